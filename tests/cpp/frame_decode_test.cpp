// Frame::parse over whole frames: accepted forms decode to the same event,
// rejected ones give their exact text.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "test_bytes.hpp"

namespace vantu::test {
namespace {

struct Case {
    const char* name;
    Bytes input;
    std::string expected;  // describe() of the frame, or the error text
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name << ": " << to_hex(c.input); }

class FrameDecode : public testing::TestWithParam<Case> {};

TEST_P(FrameDecode, GivesExpectedFrameOrText) {
    EXPECT_EQ(parse_text(GetParam().input), GetParam().expected);
}

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

const Bytes toggle_key = str("ToggleButton");
const Bytes toggle_on = hex("81") + toggle_key + hex("91 C3");
const Bytes example1 = hex("92 03") + toggle_on;
const Bytes joystick = hex("81") + str("Joystick");
const Bytes click = hex("81") + str("ClickButton");
const Bytes id_key = str("id");
const Bytes data_key = str("data");
const std::string unknown_tail = "`, expected one of " + widget_list();
// The first index past the table, and the text of the range.
const Bytes past_last_kind = {static_cast<std::uint8_t>(widget_count)};
const std::string index_range = "variant index 0 <= i < " + std::to_string(widget_count);

// Frames whose field at `field` (a complete value) is embedded in the
// canonical layouts, for the scalar and record rules.
Bytes with_id(const Bytes& id) { return hex("92") + id + toggle_on; }
Bytes with_toggle_value(const Bytes& value) {
    return hex("92 03 81") + toggle_key + hex("91") + value;
}
Bytes with_intensity(const Bytes& value) {
    return hex("92 07") + joystick + hex("92 92 01 01") + value;
}
Bytes with_data(const Bytes& data) { return hex("92 03") + data; }
Bytes with_key(const Bytes& key) { return hex("82") + key + hex("03") + data_key + toggle_on; }

INSTANTIATE_TEST_SUITE_P(Accepted, FrameDecode, testing::Values(
    Case{"Example1", example1, "3 ToggleButton{true}"},
    Case{"Example1ByName", hex("82") + id_key + hex("03") + data_key + hex("81") + toggle_key +
         hex("81") + str("value") + hex("C3"), "3 ToggleButton{true}"},
    Case{"KeysDataThenId", hex("82") + data_key + toggle_on + id_key + hex("03"),
         "3 ToggleButton{true}"},
    Case{"IntegerKeys", hex("82 00 03 01") + toggle_on, "3 ToggleButton{true}"},
    Case{"BinaryKeys", hex("82 C4 02") + raw("id") + hex("03 C4 04") + raw("data") + toggle_on,
         "3 ToggleButton{true}"},
    Case{"UnknownKeysSkipped", hex("86") + str("extra") + hex("92 C0 81 01 DC 00 01 CB") +
         Bytes(8, 0) + hex("05 D4 01 02") + hex("A2 FF FE C7 02 07 AA BB") + id_key + hex("03") +
         hex("CF") + Bytes(8, 0xFF) + hex("C4 01 00") + data_key + toggle_on,
         "3 ToggleButton{true}"},
    Case{"TrailingBytesIgnored", example1 + hex("C1 FF 00"), "3 ToggleButton{true}"},
    Case{"Example2", hex("92 07") + joystick + hex("92 92 CA 3F 00 00 00 CA BF 80 00 00 "
         "CA 3F 40 00 00"), "7 Joystick{0.5,-1,0.75}"},
    Case{"JoystickIntegers", hex("92 07") + joystick + hex("92 92 01 FF 01"),
         "7 Joystick{1,-1,1}"},
    Case{"FloatFromEveryWidth", with_intensity(hex("CB 3F E8 00 00 00 00 00 00")),
         "7 Joystick{1,1,0.75}"},
    Case{"FloatFromInt64", with_intensity(hex("D3 FF FF FF FF FF FF FF FE")),
         "7 Joystick{1,1,-2}"},
    Case{"FloatFromUint64", with_intensity(hex("CF 00 00 00 00 00 00 01 00")),
         "7 Joystick{1,1,256}"},
    Case{"DeltaByNameReversed", hex("92 07") + joystick + hex("92 82") + str("y") +
         hex("CA BF 80 00 00") + str("x") + hex("CA 3F 00 00 00 01"), "7 Joystick{0.5,-1,1}"},
    Case{"DeltaAsBinary", hex("92 07") + joystick + hex("92 C4 02 01 FF 00"),
         "7 Joystick{1,255,0}"},
    Case{"ClickButtonEmptyList", hex("92 01") + click + hex("90"), "1 ClickButton{}"},
    Case{"ClickButtonAnyMap", hex("92 01") + click + hex("82") + str("x") + hex("C0 05 91 C3"),
         "1 ClickButton{}"},
    Case{"ClickButtonAnyBinary", hex("92 01") + click + hex("C4 02 07 08"), "1 ClickButton{}"},
    Case{"VariantByIndex", hex("92 03 81 01 91 C3"), "3 ToggleButton{true}"},
    Case{"VariantByBinaryName", hex("92 03 81 C4 0C") + raw("ToggleButton") + hex("91 C2"),
         "3 ToggleButton{false}"},
    Case{"VariantInMap16", hex("92 03 DE 00 01") + toggle_key + hex("91 C3"),
         "3 ToggleButton{true}"},
    Case{"FrameAsArray32", hex("DD 00 00 00 02 03") + toggle_on, "3 ToggleButton{true}"},
    Case{"DirectionalFromBinary", hex("92 04 81") + str("DirectionalButton") + hex("C4 03 05 06 07"),
         "4 DirectionalButton{5}"},
    Case{"PressButtonByPosition", hex("92 02 81 03 81 00 C2"), "2 PressButton{false}"},
    Case{"ConfirmButtonByName", hex("92 00 81") + str("ConfirmButton") + hex("80"),
         "0 ConfirmButton{}"},
    Case{"IdAsUint8", with_id(hex("CC FF")), "255 ToggleButton{true}"},
    Case{"IdAsInt64", with_id(hex("D3 00 00 00 00 00 00 00 07")), "7 ToggleButton{true}"},
    Case{"IdAsUint16", with_id(hex("CD 00 C8")), "200 ToggleButton{true}"}
), case_name);

INSTANTIATE_TEST_SUITE_P(RecordShape, FrameDecode, testing::Values(
    Case{"Empty", {}, "IO error while reading marker: failed to fill whole buffer"},
    Case{"ArrayOfOne", hex("91 03"), "invalid length 1, expected struct Frame with 2 elements"},
    Case{"ArrayOfThree", hex("93 03") + toggle_on + hex("03"),
         "array had incorrect length, expected 2"},
    Case{"EmptyMap", hex("80"), "missing field `id`"},
    Case{"MapWithoutData", hex("81") + id_key + hex("03"), "missing field `data`"},
    Case{"DuplicateId", hex("82") + id_key + hex("03") + id_key + hex("04"),
         "duplicate field `id`"},
    Case{"DuplicateViaIntegerKey", hex("83") + id_key + hex("03 00 C1"), "duplicate field `id`"},
    Case{"NilFrame", hex("C0"), "invalid type: unit value, expected struct Frame"},
    Case{"StringFrame", str("abc"), "invalid type: string \"abc\", expected struct Frame"},
    Case{"EscapedStringFrame", hex("A6 22 5C 0A 00 01 7F"),
         "invalid type: string \"\\\"\\\\\\n\\0\\u{1}\\u{7f}\", expected struct Frame"},
    Case{"FloatFrame", hex("CA 3D CC CC CD"),
         "invalid type: floating point `0.10000000149011612`, expected struct Frame"},
    Case{"ExtFrame", hex("D4 01 02"), "invalid type: newtype struct, expected struct Frame"},
    Case{"ReservedFrame", hex("C1"), "wrong msgpack marker Reserved"},
    Case{"BinaryFrameEmpty", hex("C4 00"),
         "invalid length 0, expected struct Frame with 2 elements"},
    Case{"BinaryFrameOneByte", hex("C4 01 05"),
         "invalid length 1, expected struct Frame with 2 elements"},
    Case{"BinaryFrame", hex("C4 03 05 07 09"),
         "invalid type: integer `7`, expected enum WidgetRegistry"},
    Case{"NilKey", hex("81 C0 03"), "invalid type: unit value, expected field identifier"},
    Case{"SignedKey", with_key(hex("D0 00")), "invalid type: integer `0`, expected field identifier"},
    Case{"NegativeKey", with_key(hex("FF")), "invalid type: integer `-1`, expected field identifier"},
    Case{"BoolKey", with_key(hex("C3")), "invalid type: boolean `true`, expected field identifier"},
    Case{"FloatKey", with_key(hex("CB 40 00 00 00 00 00 00 00")),
         "invalid type: floating point `2.0`, expected field identifier"},
    Case{"ArrayKey", with_key(hex("91 00")), "invalid type: sequence, expected field identifier"},
    Case{"MapKey", with_key(hex("80")), "invalid type: map, expected field identifier"},
    Case{"ExtKey", with_key(hex("D4 01 02")),
         "invalid type: newtype struct, expected field identifier"},
    Case{"ReservedInSkippedValue", hex("81") + str("zz") + hex("91 C1"),
         "wrong msgpack marker Reserved"}
), case_name);

INSTANTIATE_TEST_SUITE_P(Variant, FrameDecode, testing::Values(
    Case{"BareName", with_data(toggle_key), "invalid type: unit variant, expected struct variant"},
    Case{"BareIndex", with_data(hex("01")), "invalid type: unit variant, expected struct variant"},
    Case{"BareIndexOutOfRange", with_data(past_last_kind),
         "invalid value: integer `" + std::to_string(widget_count) + "`, expected " + index_range},
    Case{"BareUnknownName", with_data(str("Slider")), "unknown variant `Slider" + unknown_tail},
    Case{"BareNil", with_data(hex("C0")), "invalid type: unit value, expected variant identifier"},
    Case{"BareArray", with_data(hex("91 01")),
         "invalid type: sequence, expected variant identifier"},
    Case{"WrongCase", with_data(hex("81") + str("togglebutton") + hex("91 C3")),
         "unknown variant `togglebutton" + unknown_tail},
    Case{"TwoEntries", with_data(hex("82") + toggle_key + hex("91 C3") + toggle_key + hex("91 C3")),
         "array had incorrect length, expected 2"},
    Case{"EmptyMap", with_data(hex("80")), "array had incorrect length, expected 0"},
    Case{"IndexTooLarge", with_data(hex("81 CF 00 00 00 01 00 00 00 00 90")),
         "invalid value: integer `4294967296`, expected " + index_range},
    Case{"SignedIndex", with_data(hex("81 D0 01 91 C3")),
         "invalid type: integer `1`, expected variant identifier"},
    Case{"FloatName", with_data(hex("81 CA 3F 80 00 00 90")),
         "invalid type: floating point `1.0`, expected variant identifier"},
    Case{"MapName", with_data(hex("81 80 90")), "invalid type: map, expected variant identifier"},
    Case{"ExtName", with_data(hex("81 C7 00 05 90")),
         "invalid type: newtype struct, expected variant identifier"},
    Case{"BinaryUnknownNameIsLossy", with_data(hex("81 C4 04 41 FF E2 82 90")),
         "unknown variant `A\xEF\xBF\xBD\xEF\xBF\xBD" + unknown_tail},
    Case{"ClickButtonNil", hex("92 01") + click + hex("C0"),
         "invalid type: unit value, expected struct variant WidgetRegistry::ClickButton"},
    Case{"ClickButtonOneElement", hex("92 01") + click + hex("91 C3"),
         "array had incorrect length, expected 0"},
    Case{"ClickButtonNilKey", hex("92 01") + click + hex("81 C0 C0"),
         "invalid type: unit value, expected field identifier"},
    Case{"ToggleEmptyList", with_data(hex("81") + toggle_key + hex("90")),
         "invalid length 0, expected struct variant WidgetRegistry::ToggleButton with 1 element"},
    Case{"ToggleMissingField", with_data(hex("81") + toggle_key + hex("80")),
         "missing field `value`"},
    Case{"ToggleFromBinary", with_data(hex("81") + toggle_key + hex("C4 01 01")),
         "invalid type: integer `1`, expected a boolean"},
    Case{"ToggleFromEmptyBinary", with_data(hex("81") + toggle_key + hex("C4 00")),
         "invalid length 0, expected struct variant WidgetRegistry::ToggleButton with 1 element"},
    Case{"PressTwoElements", hex("92 03 81 03 92 C3 C3"), "array had incorrect length, expected 1"},
    Case{"JoystickFromBinary", hex("92 07") + joystick + hex("C4 02 01 02"),
         "invalid type: integer `1`, expected struct Coord"},
    Case{"JoystickFromEmptyBinary", hex("92 07") + joystick + hex("C4 00"),
         "invalid length 0, expected struct variant WidgetRegistry::Joystick with 2 elements"},
    Case{"CoordTooShort", hex("92 07") + joystick + hex("92 91 01 01"),
         "invalid length 1, expected struct Coord with 2 elements"},
    Case{"CoordShortBinary", hex("92 07") + joystick + hex("92 C4 01 01 01"),
         "invalid length 1, expected struct Coord with 2 elements"}
), case_name);

INSTANTIATE_TEST_SUITE_P(Scalar, FrameDecode, testing::Values(
    Case{"IdTooLarge", with_id(hex("CD 01 2C")), "invalid value: integer `300`, expected u8"},
    Case{"IdNegative", with_id(hex("FF")), "invalid value: integer `-1`, expected u8"},
    Case{"IdSignedTooLarge", with_id(hex("D1 01 00")), "invalid value: integer `256`, expected u8"},
    Case{"IdUint64Max", with_id(hex("CF FF FF FF FF FF FF FF FF")),
         "invalid value: integer `18446744073709551615`, expected u8"},
    Case{"IdInt64Min", with_id(hex("D3 80 00 00 00 00 00 00 00")),
         "invalid value: integer `-9223372036854775808`, expected u8"},
    Case{"IdString", with_id(str("3")), "wrong msgpack marker FixStr(1)"},
    Case{"IdStringIsNotRead", hex("92 A5 33"), "wrong msgpack marker FixStr(5)"},
    Case{"IdStr8", with_id(hex("D9 01 33")), "wrong msgpack marker Str8"},
    Case{"IdBinary", with_id(hex("C4 01 03")), "wrong msgpack marker Bin8"},
    Case{"IdArray", with_id(hex("90")), "wrong msgpack marker FixArray(0)"},
    Case{"IdMap16", with_id(hex("DE 00 00")), "wrong msgpack marker Map16"},
    Case{"IdExt", with_id(hex("D5 01 02 03")), "wrong msgpack marker FixExt2"},
    Case{"IdReserved", with_id(hex("C1")), "wrong msgpack marker Reserved"},
    Case{"IdNil", with_id(hex("C0")), "invalid type: unit value, expected u8"},
    Case{"IdBool", with_id(hex("C3")), "invalid type: boolean `true`, expected u8"},
    Case{"IdFloat", with_id(hex("CB 3F F8 00 00 00 00 00 00")),
         "invalid type: floating point `1.5`, expected u8"},
    Case{"IdHugeFloat", with_id(hex("CB 7E 37 E4 3C 88 00 75 9C")),
         "invalid type: floating point `1" + std::string(300, '0') + ".0`, expected u8"},
    Case{"IdTinyFloat", with_id(hex("CB 3E 7A D7 F2 9A BC AF 48")),
         "invalid type: floating point `0.0000001`, expected u8"},
    Case{"IdNaN", with_id(hex("CB 7F F8 00 00 00 00 00 00")),
         "invalid type: floating point `NaN`, expected u8"},
    Case{"IdMinusInfinity", with_id(hex("CA FF 80 00 00")),
         "invalid type: floating point `-inf`, expected u8"},
    Case{"ToggleInteger", with_toggle_value(hex("01")),
         "invalid type: integer `1`, expected a boolean"},
    Case{"ToggleNil", with_toggle_value(hex("C0")), "invalid type: unit value, expected a boolean"},
    Case{"ToggleFloat", with_toggle_value(hex("CA 3D CC CC CD")),
         "invalid type: floating point `0.10000000149011612`, expected a boolean"},
    Case{"ToggleString", with_toggle_value(str("yes")), "wrong msgpack marker FixStr(3)"},
    Case{"IntensityNil", with_intensity(hex("C0")), "invalid type: unit value, expected f32"},
    Case{"IntensityBool", with_intensity(hex("C2")),
         "invalid type: boolean `false`, expected f32"},
    Case{"IntensityStr16", with_intensity(hex("DA")), "wrong msgpack marker Str16"},
    Case{"IntensityExt32", with_intensity(hex("C9")), "wrong msgpack marker Ext32"},
    Case{"IntensityFixMap", with_intensity(hex("81")), "wrong msgpack marker FixMap(1)"}
), case_name);

// Text that is not UTF-8, wherever a string can stand.
INSTANTIATE_TEST_SUITE_P(Utf8, FrameDecode, testing::Values(
    Case{"FrameString", hex("A2 C3 28"),
         "string found to be invalid utf8: invalid utf-8 sequence of 1 bytes from index 0"},
    Case{"FrameStringIncomplete", hex("A3 41 42 E2"),
         "string found to be invalid utf8: incomplete utf-8 byte sequence from index 2"},
    Case{"VariantName", with_data(hex("81 A4 41 E2 82 28 90")),
         "string found to be invalid utf8: invalid utf-8 sequence of 2 bytes from index 1"},
    Case{"BareVariantName", with_data(hex("A4 F0 9F 98 41")),
         "string found to be invalid utf8: invalid utf-8 sequence of 3 bytes from index 0"},
    Case{"FieldListString", hex("92 01") + click + hex("A1 80"),
         "string found to be invalid utf8: invalid utf-8 sequence of 1 bytes from index 0"},
    Case{"KeyIsSkipped", hex("83 A2 ED A0 C0") + id_key + hex("03") + data_key + toggle_on,
         "3 ToggleButton{true}"},
    Case{"SkippedValue", hex("83") + str("note") + hex("A1 FF") + id_key + hex("03") + data_key +
         toggle_on, "3 ToggleButton{true}"},
    Case{"ScalarNeverValidated", with_id(hex("A1 FF")), "wrong msgpack marker FixStr(1)"}
), case_name);

INSTANTIATE_TEST_SUITE_P(Truncated, FrameDecode, testing::Values(
    Case{"BeforeId", hex("92"), "IO error while reading marker: failed to fill whole buffer"},
    Case{"InsideId", hex("92 CD 01"), "IO error while reading data: failed to fill whole buffer"},
    Case{"InsideArrayLength", hex("DC 00"),
         "IO error while reading data: failed to fill whole buffer"},
    Case{"InsideVariantMapLength", with_data(hex("DF 00 00")),
         "IO error while reading data: failed to fill whole buffer"},
    Case{"ShortString", hex("AC 01 02 03 04 05"),
         "IO error while reading data: unexpected end of file"},
    Case{"ShortVariantName", with_data(hex("81 AC") + raw("Toggle")),
         "IO error while reading data: unexpected end of file"},
    Case{"ExtTypeOfSkippedValue", hex("81 A1 7A C7 01"),
         "IO error while reading data: failed to fill whole buffer"},
    Case{"ExtDataOfSkippedValue", hex("81 A1 7A D6 01 AA"),
         "IO error while reading data: unexpected end of file"}
), case_name);

}  // namespace
}  // namespace vantu::test
