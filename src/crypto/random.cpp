#include "crypto/random.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/invariant.hpp"

namespace zelk {
namespace {

[[nodiscard]] std::unexpected<RandomError> fail(RandomError::Source source, int code) {
  return std::unexpected(RandomError{source, code});
}

[[nodiscard]] std::expected<void, RandomError> read_dev_urandom(std::span<std::uint8_t> out) {
  using Source = RandomError::Source;
  int fd;
  do {
    fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(Source::DevUrandom, errno);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return fail(Source::DevUrandom, code);
    }
    if (n == 0) {
      ::close(fd);
      return fail(Source::DevUrandom, 0);
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return {};
}

}  // namespace

std::string RandomError::message() const {
  std::string out = source == Source::GetRandom ? "getrandom failed: " : "/dev/urandom failed: ";
  if (code == 0) return out + "unexpected end of file";
  char buf[128];
  // GNU strerror_r may return a static text instead of filling buf.
  const char* text = ::strerror_r(code, buf, sizeof buf);
  return out + text + " (os error " + std::to_string(code) + ")";
}

std::expected<void, RandomError> random_bytes(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSYS) return read_dev_urandom(out.subspan(done));
      return fail(RandomError::Source::GetRandom, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return {};
}

std::expected<Uuid, RandomError> new_uuid_v4() {
  std::array<std::uint8_t, 16> bits{};
  if (auto ok = random_bytes(bits); !ok) return std::unexpected(ok.error());
  return Uuid::v4_from_random(bits);
}

Uuid fresh_uuid_or_invariant(std::optional<Uuid> given) {
  if (given) return *given;
  auto fresh = new_uuid_v4();
  if (!fresh) invariant_failure("the random source failed");
  return *fresh;
}

}  // namespace zelk
