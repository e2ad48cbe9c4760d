#include "engine/run_edit.h"

namespace tuvel {

Result<Json> run_edit(const Repo&, const EditRequest&, bool) { return Error::plain("not implemented"); }

}  // namespace tuvel
