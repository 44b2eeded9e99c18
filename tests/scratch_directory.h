#ifndef KORVEL_TESTS_SCRATCH_DIRECTORY_H_
#define KORVEL_TESTS_SCRATCH_DIRECTORY_H_

#include <filesystem>
#include <random>
#include <string>

namespace korvel {

// A fresh folder under the temporary directory for one test. ctest runs the tests of a binary in
// parallel processes, so a name shared by two tests (a seed, a test name alone) lets one test's
// clean-up remove the other's files while it runs.
inline std::filesystem::path makeScratchDirectory(const std::string& prefix) {
  std::random_device random;
  std::filesystem::path dir;
  do {
    dir = std::filesystem::temp_directory_path() /
          (prefix + "-" + std::to_string(random()) + std::to_string(random()));
  } while (!std::filesystem::create_directories(dir));
  return dir;
}

}  // namespace korvel

#endif  // KORVEL_TESTS_SCRATCH_DIRECTORY_H_
