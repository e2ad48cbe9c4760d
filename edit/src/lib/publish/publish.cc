#include "publish/publish.h"

namespace tuvel {

Result<std::optional<std::string>> publish(Source&, std::string_view, std::string_view) {
  return Error::plain("not implemented");
}

}  // namespace tuvel
