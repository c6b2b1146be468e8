#pragma once

// libvips, which the reference server works with, started once for a test
// program and shut down at its end, so that the leak checker sees its caches
// released. One source file of each program registers it:
//   [[maybe_unused]] testing::Environment* const kVips =
//       testing::AddGlobalTestEnvironment(new VipsEnvironment("program_name"));

#include <gtest/gtest.h>
#include <vips/vips8>

class VipsEnvironment : public testing::Environment {
public:
    explicit VipsEnvironment(const char* program) : program(program) {}
    void SetUp() override {
        ASSERT_EQ(VIPS_INIT(program), 0);
        vips_cache_set_max(0);
    }
    void TearDown() override { vips_shutdown(); }

private:
    const char* program;
};
