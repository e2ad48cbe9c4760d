// SPDX-License-Identifier: Apache-2.0
#include "error/error.h"

#include <cstring>

namespace tuvel {

std::string_view code_name(EditCode code) {
  switch (code) {
    case EditCode::InvalidRange: return "invalid_range";
    case EditCode::MatchCount: return "match_count";
    case EditCode::OverlappingEdits: return "overlapping_edits";
    case EditCode::OutputLimit: return "output_limit";
    case EditCode::StaleRevision: return "stale_revision";
    case EditCode::SizeLimit: return "size_limit";
    case EditCode::ConcurrentChange: return "concurrent_change";
    case EditCode::Busy: return "busy";
  }
  return "io_or_request";
}

std::string os_error_text(int err) {
  // strerror in the C locale (never changed here) gives the English text.
  std::string text = std::strerror(err);
  text += " (os error ";
  text += std::to_string(err);
  text += ')';
  return text;
}

Error Error::os(int err) { return Failure{os_error_text(err), {}, err}; }

Error Error::with_cause(std::string message, std::string cause) {
  return Failure{std::move(message), {std::move(cause)}, 0};
}

std::string_view Error::code() const {
  if (const auto* e = std::get_if<EditError>(&value_)) return code_name(e->code);
  return "io_or_request";
}

std::string Error::render() const {
  if (const auto* e = std::get_if<EditError>(&value_)) return e->message;
  const auto& f = std::get<Failure>(value_);
  std::string text = f.message;
  for (const auto& cause : f.causes) {
    text += ": ";
    text += cause;
  }
  return text;
}

int Error::os_errno() const {
  if (const auto* f = std::get_if<Failure>(&value_)) return f->os_errno;
  return 0;
}

void Error::prefix(std::string_view context) {
  std::string& message =
      is_edit() ? std::get<EditError>(value_).message : std::get<Failure>(value_).message;
  message.insert(0, context);
}

}  // namespace tuvel
