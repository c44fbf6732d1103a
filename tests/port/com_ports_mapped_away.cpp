// Maps every COM port of the test process to a path that does not exist before any test
// runs, so a test that forgets its own mapping fails instead of opening a real device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/port/pty_line.h"

namespace {

class ComPortsMappedAway : public testing::Environment {
  public:
    void SetUp() override {
        for (int number = 1; number <= 9; ++number) {
            setenv(("KORVAN_COM" + std::to_string(number)).c_str(),
                   unmapped_com_path(number).c_str(), 1);
        }
    }
};

[[maybe_unused]] testing::Environment* const com_ports_mapped_away =
    testing::AddGlobalTestEnvironment(new ComPortsMappedAway);

}  // namespace
