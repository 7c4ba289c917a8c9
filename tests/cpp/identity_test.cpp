// Identity keys: frames and registrations must meet on the same bytes, and
// malformed decorated names must fail loudly.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "base/frame.hpp"

namespace vantu {
namespace {

Frame frame_of(std::uint8_t id, WidgetRegistry::Value value) { return Frame{id, {value}}; }

TEST(Identity, FrameKeys) {
    const std::pair<Frame, std::string_view> cases[] = {
        {frame_of(3, widget::ToggleButton{true}), "ToggleButton_3"},
        {frame_of(0, widget::ClickButton{}), "ClickButton_0"},
        {frame_of(12, widget::Joystick{{-1.0f, 0.0f}, std::numeric_limits<float>::quiet_NaN()}),
         "Joystick_12"},
        {frame_of(255, widget::DirectionalButton{7}), "DirectionalButton_255"},
        {frame_of(0, widget::DirectionalButton{}), "DirectionalButton_0"},
        {frame_of(100, widget::ConfirmButton{}), "ConfirmButton_100"},
        {frame_of(9, widget::PressButton{true}), "PressButton_9"},
    };
    for (const auto& [frame, key] : cases) {
        EXPECT_EQ(frame.identity().view(), key);
    }
}

TEST(Identity, RegistrationMeetsFrameForEveryVariantAndId) {
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        for (unsigned id = 0; id < 256; ++id) {
            const auto key = action_identity(static_cast<std::uint8_t>(id), widget_names[tag]);
            EXPECT_EQ(key, IdentityKey(tag, static_cast<std::uint8_t>(id)).view());
        }
    }
}

TEST(Identity, TheLongestKeyFits) {
    std::size_t longest = 0;
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        if (widget_names[tag].size() > widget_names[longest].size()) longest = tag;
    }
    EXPECT_EQ(IdentityKey(longest, 255).view(), std::string(widget_names[longest]) + "_255");
}

struct ActionCase {
    std::uint8_t id;
    std::string widget;
    std::string key;
};

TEST(ActionIdentity, FirstWordOfTheWidgetText) {
    const ActionCase cases[] = {
        {3, "ToggleButton", "ToggleButton_3"},
        {3, "  ToggleButton more words", "ToggleButton_3"},
        {7, "", "_7"},
        {7, " \t\n", "_7"},
        {5, "joystick", "joystick_5"},
        {9, "\tClickButton\n", "ClickButton_9"},
        {9, "\u00A0ClickButton", "ClickButton_9"},
        {1, "Née Ω", "Née_1"},
    };
    for (const auto& c : cases) EXPECT_EQ(action_identity(c.id, c.widget), c.key) << c.widget;
}

TEST(ActionIdentity, SplitsAtEveryWhiteSpaceCodePoint) {
    const char* white[] = {
        "\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001",
        "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009",
        "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
    };
    for (const std::string ws : white) {
        EXPECT_EQ(action_identity(4, ws + "Press" + ws + "Button" + ws), "Press_4") << ws;
    }
}

TEST(ActionIdentity, KeepsCodePointsOutsideWhiteSpace) {
    // Separators for Python's str.split or C's isspace, but not White_Space;
    // the last two share bytes with white-space code points.
    const char* kept[] = {"\x1C", "\x1D", "\x1E", "\x1F", "\u200B", "\u180E", "\u2060",
                          "\u0105", "\u2080"};
    for (const std::string k : kept) {
        EXPECT_EQ(action_identity(4, " A" + k + "B "), "A" + k + "B_4") << k;
    }
}

struct ExtractCase {
    std::string key;
    std::uint8_t id;
    std::string name;
};

TEST(ExtractIdentity, ReadsWellFormedKeys) {
    const ExtractCase cases[] = {
        {"ToggleButton_3", 3, "ToggleButton"}, {"Joystick_1_left", 1, "Joystick"},
        {"PressButton_007", 7, "PressButton"}, {"ConfirmButton_+4", 4, "ConfirmButton"},
        {"_3", 3, ""},                         {"DirectionalButton_255", 255, "DirectionalButton"},
        {"A_0000000000255", 255, "A"},         {"A_0__", 0, "A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(extract_identity(c.key), std::make_pair(c.id, c.name)) << c.key;
    }
}

TEST(ExtractIdentity, InvertsActionIdentity) {
    for (unsigned id = 0; id < 256; ++id) {
        const auto key = action_identity(static_cast<std::uint8_t>(id), "Joystick");
        EXPECT_EQ(extract_identity(key), std::make_pair(std::uint8_t(id), std::string("Joystick")));
    }
}

TEST(ExtractIdentity, MalformedKeysAreFatal) {
    const auto no_separator = [](const std::string& key) {
        return "invalid action name \"" + key +
               "\": index out of range, no \"_\" separates the widget name from its id";
    };
    const auto bad_number = [](const std::string& key, const std::string& kind) {
        return "invalid action name \"" + key +
               "\": the widget id after the first \"_\" must be a number from 0 to 255 (" + kind +
               ")";
    };
    const std::pair<std::string, std::string> cases[] = {
        {"ConfirmButton", no_separator("ConfirmButton")},
        {"", no_separator("")},
        {"ConfirmButton_", bad_number("ConfirmButton_", "empty number")},
        {"ConfirmButton__3", bad_number("ConfirmButton__3", "empty number")},
        {"my_button_3", bad_number("my_button_3", "invalid digit")},
        {"ConfirmButton_-1", bad_number("ConfirmButton_-1", "invalid digit")},
        {"ConfirmButton_+", bad_number("ConfirmButton_+", "invalid digit")},
        {"ConfirmButton_ 3", bad_number("ConfirmButton_ 3", "invalid digit")},
        {"ConfirmButton_3 ", bad_number("ConfirmButton_3 ", "invalid digit")},
        {"ConfirmButton_\u0663", bad_number("ConfirmButton_\u0663", "invalid digit")},
        {"ConfirmButton_256", bad_number("ConfirmButton_256", "number too large")},
        {"ConfirmButton_300x", bad_number("ConfirmButton_300x", "number too large")},
        {"ConfirmButton_99999999999999999999",
         bad_number("ConfirmButton_99999999999999999999", "number too large")},
    };
    for (const auto& [key, message] : cases) {
        try {
            extract_identity(key);
            ADD_FAILURE() << "no failure for " << key;
        } catch (const Fatal& e) {
            EXPECT_EQ(e.what(), message) << key;
        }
    }
}

}  // namespace
}  // namespace vantu
