#include <gtest/gtest.h>

#include "fake_transport.h"
#include "params/parameter_set.h"
#include "temp_dir.h"

namespace dorv::params {
namespace {

TEST(ParameterSet, RunsReportEveryEntryAndDiffShowsWhatDiffers) {
    test::TempDir dir;
    ParameterSet read({" ", ","}), blank({" ", ","});
    test::FakeTransport link;
    link.onRead = [](const test::TransportCall& c) -> std::int64_t { return c.number == 9 ? 125 : -1; };
    link.onWrite = [](const test::TransportCall& c) { return c.number != 0; };
    int reported = 0;
    const RunSummary r = read.ReadAll(link, {2, 5}, [&](const EntryProgress& p) { reported = p.done; });
    EXPECT_EQ(std::make_tuple(r.succeeded, r.failed, reported), std::make_tuple(1, 49, 50));
    const RunSummary w = read.WriteAll(link, {2, 5});
    EXPECT_EQ(std::make_tuple(w.succeeded, w.failed, w.skipped), std::make_tuple(37, 1, 12));

    read.Catalogue().GetParameter(1).SetValue(1);  // a common command: never compared
    const auto diff = Diff(read, blank);
    ASSERT_EQ(diff.size(), 1u);
    EXPECT_EQ(diff[0].name, "Момент включения клапана снижения после включения ТРК");
    EXPECT_EQ(std::make_tuple(diff[0].number, diff[0].leftText, diff[0].rightText),
              std::make_tuple(9, std::string("1,25"), std::string("0,00")));
    read.Save(dir.File("a.par"));
    blank.Load(dir.File("a.par"));
    EXPECT_TRUE(Diff(read, blank).empty());
}

}  // namespace
}  // namespace dorv::params
