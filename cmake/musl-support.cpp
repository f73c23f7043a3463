// The few pieces of libstdc++'s library (not its headers) that a musl build
// reaches (cmake/musl.cmake): the reports of the headers' checks
// (std::string_view::substr past the end, a vector's length) and, for the
// inspector's containers, the heap's operators on musl's malloc. Built
// without exceptions, the glibc build ends where these end: in abort,
// through std::terminate.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void stop(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

namespace std {

[[noreturn]] void __throw_out_of_range_fmt(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  stop("");
}
[[noreturn]] void __throw_length_error(const char* what) { stop(what); }
[[noreturn]] void __throw_logic_error(const char* what) { stop(what); }
[[noreturn]] void __throw_bad_alloc() { stop("out of memory"); }
[[noreturn]] void __throw_bad_array_new_length() { stop("bad array length"); }

}  // namespace std

void* operator new(std::size_t size) {
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) std::__throw_bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
