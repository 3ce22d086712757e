#pragma once
// A test of the applet against the fake admin service: each run keeps its
// transcript and checks that every service call ended its wait cursor.
#include <gtest/gtest.h>

#include <string>

#include <ui/afxwin.h>

#include "applet_harness.h"
#include "fake_admin.h"

class AppletTest : public ::testing::Test {
protected:
    std::string run(const std::string& script) {
        transcript = run_applet(script);
        EXPECT_EQ(ui::wait_cursor_depth(), 0);  // every service call ends its wait cursor
        return transcript;
    }
    bool shows(const std::string& text) const { return transcript.find(text) != std::string::npos; }

    FakeAdminService service;
    std::string transcript;
};
