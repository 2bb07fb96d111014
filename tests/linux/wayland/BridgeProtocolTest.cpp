// The typed layer of the GNOME bridge client: what it writes is what the bridge reads, and what
// it reads from the bridge is whole, of the declared types, and bounded.
#include "backends/linux/wayland/gnome/BridgeProtocol.hpp"
#include "wayland/OfflineBus.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace orvane::linuxbackend::test {
namespace {

using namespace bridge1;
using BridgeReplies::BridgeState;

// A message as it arrives: sealed and read from its start.
class Message {
public:
    Message() {
        sd_bus_message_new_signal(offlineBus(), &m_, "/net/orvane/Bridge", "net.orvane.Bridge1",
                                  "X");
    }
    ~Message() { sd_bus_message_unref(m_); }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    sd_bus_message* get() { return m_; }
    sd_bus_message* arrived() {
        EXPECT_GE(sd_bus_message_seal(m_, 1, 0), 0);
        EXPECT_GE(sd_bus_message_rewind(m_, 1), 0);
        return m_;
    }
    std::string signature() { return sd_bus_message_get_signature(m_, 1); }

private:
    sd_bus_message* m_ = nullptr;
};

TEST(BridgeProtocol, ArgumentsAreWrittenAsTheBridgeReadsThem) {
    Message indicator;
    const std::vector<std::uint8_t> icon{0x3c, 0x00, 0xff};
    const std::vector<IndicatorItem> items{{"pause", "Pause", true, std::nullopt},
                                           {"", "", false, std::nullopt},
                                           {"dot", "Show the dot", true, true},
                                           {"calm", "Calm", false, false}};
    ASSERT_GE(
        appendArguments<methods::SetIndicator>(indicator.get(), icon, std::string("Orvane"), items),
        0);
    EXPECT_EQ(indicator.signature(), methods::SetIndicator::in);
    sd_bus_message* m = indicator.arrived();
    const void* bytes = nullptr;
    std::size_t size = 0;
    ASSERT_GE(sd_bus_message_read_array(m, 'y', &bytes, &size), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(static_cast<const std::uint8_t*>(bytes),
                                        static_cast<const std::uint8_t*>(bytes) + size),
              icon);
    const char* tooltip = nullptr;
    ASSERT_GT(sd_bus_message_read(m, "s", &tooltip), 0);
    EXPECT_STREQ(tooltip, "Orvane");
    ASSERT_GT(sd_bus_message_enter_container(m, 'a', "(ssbi)"), 0);
    std::vector<std::string> read;
    const char* id = nullptr;
    const char* label = nullptr;
    int enabled = 0, checked = 0;
    while (sd_bus_message_read(m, "(ssbi)", &id, &label, &enabled, &checked) > 0) {
        read.push_back(std::string(id) + "|" + label + "|" + std::to_string(enabled) + "|" +
                       std::to_string(checked));
    }
    // A check item says whether it is checked; any other says -1.
    EXPECT_EQ(read, (std::vector<std::string>{"pause|Pause|1|-1", "||0|-1", "dot|Show the dot|1|1",
                                              "calm|Calm|0|0"}));

    Message key;
    ASSERT_GE(appendArguments<methods::PostKey>(key.get(), std::uint32_t{0xffe9}, true), 0);
    EXPECT_EQ(key.signature(), "ub");
    std::uint32_t keyval = 0;
    int pressed = 0;
    ASSERT_GT(sd_bus_message_read(key.arrived(), "ub", &keyval, &pressed), 0);
    EXPECT_EQ(keyval, 0xffe9u);
    EXPECT_EQ(pressed, 1);
}

TEST(BridgeProtocol, RepliesAreReadWholeAndOfTheirTypesOrNotAtAll) {
    Message pointer;
    sd_bus_message_append(pointer.get(), "iiu", -40, 1200, 256u);
    const auto read = readReply<methods::GetPointer>(pointer.arrived());
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, std::make_tuple(-40, 1200, 256u));

    // Fewer values than declared: no pointer at (0, 0).
    Message empty;
    EXPECT_FALSE(readReply<methods::GetPointer>(empty.arrived()));
    Message shorter;
    sd_bus_message_append(shorter.get(), "ii", 1, 2);
    EXPECT_FALSE(readReply<methods::GetPointer>(shorter.arrived()));
    Message otherType;
    sd_bus_message_append(otherType.get(), "iis", 1, 2, "x");
    EXPECT_FALSE(readReply<methods::GetPointer>(otherType.arrived()));

    Message activated;
    sd_bus_message_append(activated.get(), "b", 1);
    EXPECT_EQ(readReply<methods::ActivateWindow>(activated.arrived()), std::make_tuple(true));
    Message number;
    sd_bus_message_append(number.get(), "u", 1u);
    EXPECT_FALSE(readReply<methods::ActivateWindow>(number.arrived()));

    // A method with nothing to answer is answered by any reply.
    Message none;
    EXPECT_TRUE(readReply<methods::HideDot>(none.arrived()));
}

TEST(BridgeProtocol, SignalsCarryTheirDeclaredValuesAndBoundedText) {
    Message input;
    sd_bus_message_append(input.get(), "iiuu", 5, -6, 4u, 30000u);
    EXPECT_EQ(readSignal<emits::Input>(input.arrived()), std::make_tuple(5, -6, 4u, 30000u));

    Message wrong;
    sd_bus_message_append(wrong.get(), "s", "7");
    EXPECT_FALSE(readSignal<emits::AcceleratorActivated>(wrong.arrived()));

    // A long id is cut between characters, at the bound.
    std::string id(BridgeReplies::maxTextLength - 1, 'a');
    id += "\xC3\xA9tail";
    Message activated;
    sd_bus_message_append(activated.get(), "s", id.c_str());
    const auto read = readSignal<emits::IndicatorActivated>(activated.arrived());
    ASSERT_TRUE(read);
    EXPECT_EQ(std::get<0>(*read).text, std::string(BridgeReplies::maxTextLength - 1, 'a'));
    Message missing;
    EXPECT_FALSE(readSignal<emits::IndicatorActivated>(missing.arrived()));
}

// Entries of the state as the bridge sends them.
void appendEntry(sd_bus_message* m, const char* name, const char* type, auto value) {
    sd_bus_message_append(m, "{sv}", name, type, value);
}

TEST(BridgeProtocol, StateIsReadInOrderUpToItsFirstMalformedEntry) {
    Message whole;
    sd_bus_message_open_container(whole.get(), 'a', "{sv}");
    appendEntry(whole.get(), "Unknown", "s", "passed over");
    appendEntry(whole.get(), "FocusWindow", "t", std::uint64_t{42});
    appendEntry(whole.get(), "OverviewActive", "b", 1);
    const std::string longModal(200, 'm');
    appendEntry(whole.get(), "ShellModal", "s", longModal.c_str());
    appendEntry(whole.get(), "FocusWindow", "t", std::uint64_t{43});
    sd_bus_message_close_container(whole.get());
    auto state = readReply<methods::GetState>(whole.arrived());
    ASSERT_TRUE(state);
    const BridgeState& read = std::get<0>(*state);
    EXPECT_TRUE(read.whole);
    ASSERT_EQ(read.properties.size(), 4u);
    EXPECT_EQ(std::get<BridgeReplies::ShellModal>(read.properties[2]).what,
              std::string(BridgeReplies::maxWordLength, 'm'));
    EXPECT_EQ(BridgeReplies::focusOf(read), 42u); // the first one

    // A known name of the wrong type ends the reading there: what came before stands, nothing
    // is made up for it (an empty ShellModal would release a hold), and it is not whole.
    Message broken;
    sd_bus_message_open_container(broken.get(), 'a', "{sv}");
    appendEntry(broken.get(), "OverviewActive", "b", 0);
    appendEntry(broken.get(), "ShellModal", "u", 1u);
    appendEntry(broken.get(), "FocusWindow", "t", std::uint64_t{7});
    sd_bus_message_close_container(broken.get());
    const auto partial = readSignal<emits::StateChanged>(broken.arrived());
    ASSERT_TRUE(partial);
    EXPECT_FALSE(std::get<0>(*partial).whole);
    ASSERT_EQ(std::get<0>(*partial).properties.size(), 1u);
    EXPECT_FALSE(
        std::get<BridgeReplies::OverviewActive>(std::get<0>(*partial).properties[0]).active);
    EXPECT_FALSE(BridgeReplies::focusOf(std::get<0>(*partial)));

    Message notState;
    sd_bus_message_append(notState.get(), "u", 1u);
    EXPECT_FALSE(readReply<methods::GetState>(notState.arrived()));
}

TEST(BridgeProtocol, TheShellsExtensionInfoIsReadWithItsErrorBounded) {
    Message unlisted;
    sd_bus_message_open_container(unlisted.get(), 'a', "{sv}");
    sd_bus_message_close_container(unlisted.get());
    const auto none = BridgeReplies::readExtensionInfo(unlisted.arrived());
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->listed);

    // GNOME 43 says the state as a double, some releases as a number.
    const std::string longError(5000, 'e');
    for (const bool asDouble : {true, false}) {
        Message listed;
        sd_bus_message_open_container(listed.get(), 'a', "{sv}");
        appendEntry(listed.get(), "uuid", "s", "bridge@orvane.net");
        if (asDouble) {
            appendEntry(listed.get(), "state", "d", 3.0);
        } else {
            appendEntry(listed.get(), "state", "u", 3u);
        }
        appendEntry(listed.get(), "error", "s", longError.c_str());
        sd_bus_message_close_container(listed.get());
        const auto info = BridgeReplies::readExtensionInfo(listed.arrived());
        ASSERT_TRUE(info);
        EXPECT_TRUE(info->listed);
        EXPECT_EQ(info->state, 3);
        EXPECT_EQ(info->error.size(), BridgeReplies::maxTextLength);
    }
}

} // namespace
} // namespace orvane::linuxbackend::test
