#include "read/execute.h"

namespace tuvel {

Result<Json> execute(const std::string&, Request) { return Error::plain("not implemented"); }

}  // namespace tuvel
