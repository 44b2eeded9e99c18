// A small checking harness for the programs that test the Windows library under Windows or Wine,
// where GoogleTest is not built: checks print what failed with its place, and main answers the
// number of failures so that the program exits non-zero on the first failing run.
#ifndef KORVEL_TESTS_WIN32_CHECK_H_
#define KORVEL_TESTS_WIN32_CHECK_H_

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace korvel::win32::testing {

struct TestCase {
  const char* name;
  std::function<void()> body;
};

inline std::vector<TestCase>& registry() {
  static std::vector<TestCase> cases;
  return cases;
}

inline int& failures() {
  static int count = 0;
  return count;
}

struct Registration {
  Registration(const char* name, std::function<void()> body) {
    registry().push_back({name, std::move(body)});
  }
};

// Runs every registered case (or those whose name contains the filter) and answers the number of
// cases that failed.
inline int runAll(const char* filter = nullptr) {
  int failedCases = 0;
  for (const TestCase& test : registry()) {
    if (filter != nullptr && std::string(test.name).find(filter) == std::string::npos) continue;
    int before = failures();
    std::printf("[ RUN  ] %s\n", test.name);
    std::fflush(stdout);
    test.body();
    bool ok = failures() == before;
    if (!ok) ++failedCases;
    std::printf("[ %s ] %s\n", ok ? " OK " : "FAIL", test.name);
    std::fflush(stdout);
  }
  std::printf("%d case(s) failed\n", failedCases);
  return failedCases;
}

}  // namespace korvel::win32::testing

#define KORVEL_CONCAT_INNER(a, b) a##b
#define KORVEL_CONCAT(a, b) KORVEL_CONCAT_INNER(a, b)
// TEST_CASE("name") { body }
#define TEST_CASE(name)                                                                    \
  static void KORVEL_CONCAT(testBody, __LINE__)();                                         \
  static ::korvel::win32::testing::Registration KORVEL_CONCAT(testRegistration, __LINE__)( \
      name, &KORVEL_CONCAT(testBody, __LINE__));                                           \
  static void KORVEL_CONCAT(testBody, __LINE__)()

#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      ++::korvel::win32::testing::failures();                                   \
      std::printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                           \
  } while (0)

#define CHECK_EQ(a, b)                                                            \
  do {                                                                            \
    if (!((a) == (b))) {                                                          \
      ++::korvel::win32::testing::failures();                                     \
      std::printf("%s:%d: check failed: %s == %s\n", __FILE__, __LINE__, #a, #b); \
    }                                                                             \
  } while (0)

#endif  // KORVEL_TESTS_WIN32_CHECK_H_
