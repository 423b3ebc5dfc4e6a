#pragma once

#include <utility>

#include "crypto/jws.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// How token verifiers report what the payload pre-check found: UnknownField with the name for an
// undeclared member, ClaimsMalformed with the text otherwise (a repeated member).
[[nodiscard]] inline TctError from_payload_problem(PayloadProblem problem) {
  if (problem.kind == PayloadProblem::Kind::Undeclared)
    return TctError::unknown_field(std::move(problem.text));
  return TctError::claims_malformed(std::move(problem.text));
}

}  // namespace zelk
