#include "protocol/decode.h"

namespace tuvel {

Result<Request> decode_request(std::string_view) { return Error::plain("not implemented"); }
Result<EditRequest> decode_edit_request(std::string_view) { return Error::plain("not implemented"); }

}  // namespace tuvel
