// The C++ runtime the shipped engine links (its std::string and exception
// message objects carry no unwind tables): the standard exceptions are still
// thrown, caught, copied, carried across threads and read as with the
// toolchain's own runtime. A plain program, linked as the engine is.
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

template <typename E, typename F, typename C>
void Expect(const char* what, F raise, C check) {
    try {
        raise();
        Check(false, what);
    } catch (const E& e) {
        Check(check(e), what);
    } catch (...) {
        Check(false, what);
    }
}

}  // namespace

int main() {
    Expect<std::system_error>(
        "system_error built by the caller, message and code",
        [] { throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur), "pool"); },
        [](const std::system_error& e) {
            return e.code() == std::errc::resource_deadlock_would_occur && std::strncmp(e.what(), "pool: ", 6) == 0 &&
                   std::strlen(e.what()) > 6;
        });
    Expect<std::system_error>(
        "system_error raised inside the threading library", [] { std::thread().join(); },
        [](const std::system_error& e) { return e.code() == std::errc::invalid_argument; });
    const std::string long_text(300, 'x');
    Expect<std::runtime_error>(
        "runtime_error with a long message, copied and assigned", [&] { throw std::runtime_error(long_text); },
        [&](const std::runtime_error& e) {
            std::runtime_error copy = e;
            std::runtime_error assigned("short");
            assigned = copy;
            return long_text == copy.what() && long_text == assigned.what();
        });
    Expect<std::out_of_range>(
        "out_of_range from std::string", [] { (void)std::string("abc").substr(5); },
        [](const std::out_of_range& e) { return std::strstr(e.what(), "substr") != nullptr; });
    Expect<std::length_error>(
        "length_error from std::vector", [] { std::vector<int>().reserve(std::vector<int>().max_size() + 1); },
        [](const std::length_error& e) { return e.what()[0] != '\0'; });
    Expect<std::invalid_argument>(
        "logic_error family from a C string", [] { throw std::invalid_argument("bad argument"); },
        [](const std::invalid_argument& e) { return std::strcmp(e.what(), "bad argument") == 0; });

    std::exception_ptr carried;
    std::thread worker([&] {
        try {
            throw std::length_error("raised on a worker");
        } catch (...) {
            carried = std::current_exception();
        }
    });
    worker.join();
    Expect<std::length_error>(
        "exception carried from a worker thread and raised again", [&] { std::rethrow_exception(carried); },
        [](const std::length_error& e) { return std::strcmp(e.what(), "raised on a worker") == 0; });

    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
