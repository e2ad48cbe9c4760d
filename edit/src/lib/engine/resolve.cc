#include "engine/resolve.h"

namespace tuvel {

Result<std::vector<Change>> resolve(std::string_view, const std::vector<Edit>&) { return Error::plain("not implemented"); }

}  // namespace tuvel
