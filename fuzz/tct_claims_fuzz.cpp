// The TCT claims reader: text path against value path and write-then-read round trip.
#include "fuzz_support.hpp"
#include "tct/claims.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelk::fuzz::check_record_reader(zelk::fuzz::text_of(data, size), zelk::read_tct_claims,
                                  zelk::tct_claims_from_value, zelk::tct_claims_to_value);
  zelk::fuzz::check_preparsed_read<zelk::TctClaims>(zelk::fuzz::text_of(data, size));
  return 0;
}
