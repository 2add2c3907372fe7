// Port table, record text fields, value tables, field catalogue, bar and image format.
#include <climits>
#include <iterator>

#include <gtest/gtest.h>

#include "jobs/engine/steps.h"
#include "jobs/model/port_table.h"
#include "jobs/model/progress_bar.h"
#include "jobs/model/record_fields.h"

namespace {

TEST(PortTable, CopiesShareRecordsAndLocks) {
    zb::PortTable main_rows;
    auto first = zb::AddPort(main_rows[2], 3);
    EXPECT_EQ(first->com_no, 3u);
    EXPECT_TRUE(first->selected);
    EXPECT_EQ(main_rows[2].port_state, 1);
    EXPECT_EQ(main_rows[0].port_state, -1);

    zb::PortTable copy = main_rows;
    EXPECT_EQ(copy[2].device.get(), first.get());
    EXPECT_EQ(copy[2].port_lock.get(), main_rows[2].port_lock.get());
    copy[2].device->channel = 7;
    EXPECT_EQ(main_rows[2].device->channel, 7);

    // Removing frees the record for the main window, but a copy still using it keeps it.
    const auto lock = main_rows[2].port_lock;
    std::weak_ptr<zb::DeviceRecord> weak = first;
    first.reset();
    zb::RemovePort(main_rows[2]);
    EXPECT_EQ(main_rows[2].port_state, 0);
    EXPECT_EQ(main_rows[2].device, nullptr);
    EXPECT_EQ(main_rows[2].port_lock, lock);
    EXPECT_FALSE(weak.expired());
    copy[2].device.reset();
    EXPECT_TRUE(weak.expired());

    // Adding again gives a fresh record with the defaults, under the same lock.
    auto again = zb::AddPort(main_rows[2], 3);
    EXPECT_EQ(again->channel, 0);
    EXPECT_EQ(main_rows[2].port_lock, lock);
}

TEST(RecordText, CutsTerminatesAndLeavesNoTrace) {
    zb::DeviceRecord r;
    zb::SetText(r.fw_version, "a version text of thirty characters");
    EXPECT_EQ(zb::TextOf(r.fw_version), "a version text of thirty ");  // 25 kept
    zb::SetText(r.fw_version, "v2");
    EXPECT_EQ(zb::TextOf(r.fw_version), "v2");
    for (std::size_t i = 2; i < r.fw_version.size(); ++i) EXPECT_EQ(r.fw_version[i], '\0');

    zb::SetText(r.devname, "exactly-twenty-chars");
    EXPECT_EQ(zb::TextOf(r.devname).size(), 20u);
    // A field written by hand without a terminator is still read within bounds.
    r.devname.fill('x');
    EXPECT_EQ(zb::TextOf(r.devname).size(), 20u);
}

struct FieldCase {
    const char* field;
    const char* value;
    bool accepted;
};

class RecordFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(RecordFieldTest, RangesOfTheRecord) {
    const FieldCase& c = GetParam();
    const zb::RecordField* field = zb::FindRecordField(c.field);
    ASSERT_NE(field, nullptr);
    zb::DeviceRecord r;
    const zb::DeviceRecord before = r;
    const zb::Status set = zb::SetRecordField(r, *field, c.value);
    EXPECT_EQ(set.ok(), c.accepted);
    if (!c.accepted) {
        EXPECT_FALSE(set.reason().empty());
        EXPECT_EQ(zb::NumberOf(r, *field), zb::NumberOf(before, *field));
        EXPECT_EQ(zb::TextFieldOf(r, *field), zb::TextFieldOf(before, *field));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RecordFieldTest,
    ::testing::Values(FieldCase{"channel", "15", true}, FieldCase{"channel", "16", false},
                      FieldCase{"channel", "-1", false}, FieldCase{"panid", "0xFFFD", true},
                      FieldCase{"panid", "65534", false}, FieldCase{"panid", "0x", false},
                      FieldCase{"panid", "12G", false}, FieldCase{"databit", "1", false},
                      FieldCase{"devname", "twenty-one-characters", false},
                      FieldCase{"devname", "a\nb", false},
                      FieldCase{"devname", "caf\xC3\xA9", false},
                      FieldCase{"devname", "x\x7F", false},
                      FieldCase{"devname", " ~Line #7; ok?", true},
                      FieldCase{"aeskey", "0123456789abcdef0123456789ABCDE", false},
                      FieldCase{"aeskey", "0123456789abcdef0123456789ABCDEZ", false},
                      FieldCase{"fw_version", "x", false}));

TEST(RecordFieldTest, ValuesLandInTheirFields) {
    zb::DeviceRecord r;
    ASSERT_TRUE(zb::SetRecordField(r, *zb::FindRecordField("panid"), "0x2A2B"));
    ASSERT_TRUE(zb::SetRecordField(r, *zb::FindRecordField("channel"), "15"));
    ASSERT_TRUE(zb::SetRecordField(r, *zb::FindRecordField("devname"), "LINE-7"));
    EXPECT_EQ(r.panid, 0x2A2Bu);
    EXPECT_EQ(r.channel, 15);
    EXPECT_EQ(zb::TextOf(r.devname), "LINE-7");
    EXPECT_EQ(zb::FindRecordField("link"), nullptr);
}

// What the window shows for a record value, and the value each shown text reads back as.
TEST(RecordFields, DisplayTextsReadBackAsTheirValues) {
    using F = zb::FieldId;
    const struct {
        F field;
        std::int64_t value;
        std::optional<std::string> shown;
        const char* typed;  // also read as `value`
    } cases[] = {
        {F::Channel, 9, "20", "20"},
        {F::Channel, 0, "11", "11"},
        {F::Baud, 16, "115200", "115200"},
        {F::Parity, 2, "Even", "eVEN"},
        {F::Databit, 0, "8", "8"},
        {F::Stopbit, 1, "2", "2"},
        {F::Interface, 3, "RS-485 4W", "rs-485 4w"},
        {F::Outpower, 5, "-1.5", "-1.5"},
        {F::Security, 1, "Enable", "enable"},
        {F::Panid, 0x1A2B, "1A2B", "0x1a2b"},
        {F::Startbyte, 0x0A, "A", "0A"},
        {F::Baud, 18, std::nullopt, nullptr},  // an index the device reported, outside the list
    };
    for (const auto& c : cases) {
        const zb::RecordField& field = zb::FieldOf(c.field);
        EXPECT_EQ(zb::DisplayTextOf(field, c.value), c.shown) << field.name;
        if (c.shown) {
            EXPECT_EQ(zb::ParseDisplayText(field, *c.shown), c.value) << field.name;
        }
        if (c.typed) {
            EXPECT_EQ(zb::ParseDisplayText(field, c.typed), c.value) << field.name;
        }
    }
    // A device's channel far out of range shows without overflowing.
    EXPECT_EQ(zb::DisplayTextOf(zb::FieldOf(F::Channel), INT32_MAX), "2147483658");
    const struct {
        F field;
        const char* text;
    } refused[] = {{F::Channel, "27"}, {F::Channel, "9"}, {F::Channel, " 20"}, {F::Panid, "FFFE"},
                   {F::Panid, "-1"},   {F::Parity, "Od"}, {F::Databit, "9"},   {F::Devname, "x"}};
    for (const auto& c : refused)
        EXPECT_EQ(zb::ParseDisplayText(zb::FieldOf(c.field), c.text), std::nullopt) << c.text;

    zb::DeviceRecord r;
    ASSERT_TRUE(zb::SetDisplayText(r, zb::FieldOf(F::Channel), "26"));
    EXPECT_EQ(r.channel, 15);
    EXPECT_EQ(zb::WireValueOf(r, zb::FieldOf(F::Channel)), 26);
    EXPECT_EQ(r.parity, 0u);
    // A refusal names what the field takes.
    const struct {
        F field;
        const char* text;
        const char* says;
    } refusals[] = {
        {F::Channel, "27", "channel must be 11 to 26, not 27"},
        {F::Parity, "Mark", "parity must be one of None, Odd, Even, not Mark"},
        {F::Panid, "FFFE", "panid must be 0000 to FFFD, not FFFE"},
        {F::FwType, "1", "fw_type is read from the device and cannot be set"},
    };
    for (const auto& c : refusals)
        EXPECT_EQ(zb::SetDisplayText(r, zb::FieldOf(c.field), c.text).reason(), c.says);
    // Machine-readable output writes numbers for the fields that show numbers only.
    for (const F id : {F::Channel, F::Baud, F::Outpower, F::Stopbit, F::Lnodeid})
        EXPECT_TRUE(zb::ShowsNumber(zb::FieldOf(id))) << zb::FieldOf(id).name;
    for (const F id : {F::Parity, F::Panid, F::Startbyte, F::Devname})
        EXPECT_FALSE(zb::ShowsNumber(zb::FieldOf(id))) << zb::FieldOf(id).name;
    r.baud = 18;
    EXPECT_EQ(zb::ShownText(r, zb::FieldOf(F::Baud)), "?18");
}

// A new port's values, and the setters' ranges the apply step checks before its first write.
TEST(RecordFields, NewPortsAndUnwritableFieldFollowTheTable) {
    zb::PortRow row;
    const auto port = zb::AddPort(row, 1);
    EXPECT_EQ(zb::ShownText(*port, zb::FieldOf(zb::FieldId::Baud)), "115200");
    for (const zb::RecordField& field : zb::RecordFields()) {
        EXPECT_EQ(zb::NumberOf(*port, field), field.initial) << field.name;
        // A field is read or written where its form has the command for it.
        const zb::FieldCommands& c = field.commands;
        const bool number = c.form == zb::WireForm::Number;
        EXPECT_EQ(c.read_order > 0, number ? c.get_number != nullptr : c.get_text != nullptr);
        EXPECT_EQ(c.write_order > 0, number ? c.set_number != nullptr : c.set_text != nullptr);
        EXPECT_EQ(c.form == zb::WireForm::None, c.read_order == 0 && c.write_order == 0);
        EXPECT_TRUE(c.write_order == 0 || field.writable) << field.name;
        if (!field.setter) continue;
        for (const std::int64_t wire :
             {std::int64_t{field.setter->min} - 1, std::int64_t{field.setter->min},
              std::int64_t{field.setter->max}, std::int64_t{field.setter->max} + 1}) {
            zb::DeviceRecord r;
            zb::StoreWireValue(r, field, wire);
            if (zb::WireValueOf(r, field) != wire) continue;  // the member cannot hold it
            const bool inside = wire >= field.setter->min && wire <= field.setter->max;
            EXPECT_EQ(zb::UnwritableField(r), inside ? "" : field.name)
                << field.name << " " << wire;
        }
    }
    using R = zb::DeviceRecord;
    const struct {
        void (*change)(R&);
        std::string_view field;
    } cases[] = {
        {[](R&) {}, ""},  // a zero-filled record can be written
        {[](R& r) { r.channel = INT32_MAX; }, "channel"},
        {[](R& r) { zb::SetText(r.devname, "exactly-twenty-chars"); }, ""},
        {[](R& r) { zb::SetText(r.devname, "caf\xC3\xA9"); }, "devname"},
        {[](R& r) { zb::SetText(r.devname, "a\tb"); }, "devname"},
        {[](R& r) { zb::SetText(r.aeskey, "0011"); }, ""},  // security off: no key sent
        {[](R& r) {
             r.security = true;
             zb::SetText(r.aeskey, "0011");
         },
         "aeskey"},
        {[](R& r) {
             r.security = true;
             zb::SetText(r.aeskey, "00112233445566778899AABBCCDDEE\nF");
         },
         "aeskey"},
        {[](R& r) {
             r.security = true;
             zb::SetText(r.aeskey, "00112233445566778899AABBCCDDEEFF");
         },
         ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        R r;
        cases[i].change(r);
        EXPECT_EQ(zb::UnwritableField(r), cases[i].field) << "case " << i;
    }
}

TEST(ProgressBar, PositionStaysWithinMaximum) {
    zb::ProgressBar bar;
    EXPECT_EQ(bar.SetMax(2).position, 0u);
    bar.Step();
    bar.Step();
    EXPECT_EQ(bar.Step().position, 2u);
    EXPECT_EQ(bar.SetMax(1).position, 1u);
    bar.SetVisible(true);
    const zb::ProgressBarState reset = bar.Reset();
    EXPECT_EQ(reset.position, 0u);
    EXPECT_FALSE(reset.visible);
    EXPECT_EQ(reset.max, 1u);
    EXPECT_EQ(bar.Fill().position, 1u);
}

std::array<std::uint8_t, 32> Header(const char* type) {
    std::array<std::uint8_t, 32> h{};
    for (std::size_t i = 0; i < 4 && type[i] != '\0'; ++i)
        h[i] = static_cast<std::uint8_t>(type[i]);
    return h;
}

TEST(ImageFormat, TypeIsReadLikeAHexScanOfFourCharacters) {
    const struct {
        const char* text;
        std::optional<std::uint32_t> type;
    } cases[] = {
        {"0101", 0x0101u},     {"aBc", 0xABCu},      {"1 ", 0x1u},           {"101-", 0x101u},
        {"01Z1", 0x01u},       {" \t7f", 0x7Fu},     {"0x1A", 0x1Au},        {"0X7", 0x7u},
        {"00x1", 0x0u},        {"12345", 0x1234u},   {"", std::nullopt},     {"ZZZZ", std::nullopt},
        {"   ", std::nullopt}, {"0x", std::nullopt}, {" 0xg", std::nullopt}, {"-1", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(zb::ImageType(Header(c.text)), c.type) << c.text;
}

TEST(ImageFormat, WordSumIsIndependentOfChunksAndPadsTheTail) {
    const std::vector<std::uint8_t> body{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 1};
    zb::WordSum whole;
    whole.Add(body);
    zb::WordSum pieces;
    for (std::size_t i = 0; i < body.size(); i += 3)
        pieces.Add(std::span(body).subspan(i, std::min<std::size_t>(3, body.size() - i)));
    // 1 + 0xFFFFFFFF wraps to 0; the tail 02 01 counts as the word 0x00000102.
    EXPECT_EQ(whole.Finish(), 0x102u);
    EXPECT_EQ(pieces.Finish(), 0x102u);
}

}  // namespace
