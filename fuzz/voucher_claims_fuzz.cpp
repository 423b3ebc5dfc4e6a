// The grant voucher claims reader: text path against value path and write-then-read round trip.
#include "fuzz_support.hpp"
#include "tct/claims.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelk::fuzz::check_record_reader(zelk::fuzz::text_of(data, size), zelk::read_grant_voucher_claims,
                                  zelk::grant_voucher_claims_from_value,
                                  zelk::grant_voucher_claims_to_value);
  zelk::fuzz::check_preparsed_read<zelk::GrantVoucherClaims>(zelk::fuzz::text_of(data, size));
  return 0;
}
