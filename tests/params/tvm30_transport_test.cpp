// The parameter service over the real driver object and a recording host link: what reaches
// the wire when one entry is read or written.
#include <gtest/gtest.h>

#include "driver/tvm30.h"
#include "params/parameter_set.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace dorv::params {
namespace {

using test::Bytes;

struct OverDriver : ::testing::Test {
    test::TempDir dir;
    test::RecordingLink link;
    TVM30 driver{0, &link};
    Tvm30Transport transport{driver};
    ParameterSet set{NumberLocale{" ", ","}};
};

TEST_F(OverDriver, ReadOfNumber9ShowsTheControllersValueWithTwoDecimals) {
    link.Queue(test::Data({'9', '1', '2', '5'}));
    CParameter& entry = set.Catalogue().GetParameter(15);
    ASSERT_TRUE(ReadEntry(entry, &transport, {1, 5}, set.Locale()));
    ASSERT_EQ(link.Requests(), (std::vector<Bytes>{{0x02, 0x25, 'N', '9'}}));
    EXPECT_EQ(entry.Value(), 125);
    EXPECT_EQ(entry.ReadText(), "1,25");
}

TEST_F(OverDriver, WriteSendsTheValueInTheEntrysDigitsAndCommonCommandsAreNotRead) {
    link.Queue(test::Ack());
    CParameter& entry = set.Catalogue().GetParameter(13);  // number 7, two digits
    entry.SetValue(45);
    EXPECT_EQ(WriteEntry(entry, &transport, {1, 3}), WriteOutcome::Written);
    EXPECT_FALSE(ReadEntry(set.Catalogue().GetParameter(1), &transport, {1, 1}, set.Locale()));
    ASSERT_EQ(link.Requests(), (std::vector<Bytes>{{0x02, 0x23, 'O', '7', '4', '5'}}));
}

}  // namespace
}  // namespace dorv::params
