// The signed message envelope reader: text path against value path and round trip.
#include "core/envelope.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  fuzz::check_record_reader(fuzz::text_of(data, size), decode_envelope,
                            json::record_from_value<ZelkEnvelope>,
                            json::record_to_value<ZelkEnvelope>);
  return 0;
}
