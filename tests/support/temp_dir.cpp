#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

namespace qelt::test {

TempDir::TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "qelt";
    for (auto& c : name) {
        if (c == '/') c = '_';
    }
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("qelt-" + name + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    if (std::getenv("QELT_KEEP_TEST_DIRS")) {
        std::cerr << "kept test folder " << path_ << "\n";
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace qelt::test
