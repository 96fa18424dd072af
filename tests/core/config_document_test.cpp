#include "config/config_file.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(ConfigDocument, Smoke) {
    ConfigFile doc;
    doc.addEntry(u"1", u"title", u"x");
    EXPECT_EQ(doc.getString(u"1", u"title"), u"x");
}
