#include "backends/posix/ChordText.hpp"

#include "orvane/platform/WindowServer.hpp"

namespace orvane::posix {
namespace {

// Names of the keys by their place on a US keyboard, which is what the system's key numbers
// are.
struct KeyName {
    std::uint16_t key;
    const char* name;
};
constexpr KeyName keyNames[] = {
    {0, "A"},       {11, "B"},         {8, "C"},        {2, "D"},       {14, "E"},
    {3, "F"},       {5, "G"},          {4, "H"},        {34, "I"},      {38, "J"},
    {40, "K"},      {37, "L"},         {46, "M"},       {45, "N"},      {31, "O"},
    {35, "P"},      {12, "Q"},         {15, "R"},       {1, "S"},       {17, "T"},
    {32, "U"},      {9, "V"},          {13, "W"},       {7, "X"},       {16, "Y"},
    {6, "Z"},       {29, "0"},         {18, "1"},       {19, "2"},      {20, "3"},
    {21, "4"},      {23, "5"},         {22, "6"},       {26, "7"},      {28, "8"},
    {25, "9"},      {43, ","},         {47, "."},       {44, "/"},      {41, ";"},
    {39, "'"},      {33, "["},         {30, "]"},       {42, "\\"},     {27, "-"},
    {24, "="},      {50, "`"},         {49, "Space"},   {36, "Return"}, {48, "Tab"},
    {53, "Escape"}, {51, "Backspace"}, {117, "Delete"}, {123, "Left"},  {124, "Right"},
    {125, "Down"},  {126, "Up"},
};

} // namespace

std::string modifierPrefix(std::uint64_t modifiers) {
    std::string text;
    if (modifiers & ModifierFlag::control) {
        text += "Ctrl+";
    }
    if (modifiers & ModifierFlag::option) {
        text += "Alt+";
    }
    if (modifiers & ModifierFlag::shift) {
        text += "Shift+";
    }
    if (modifiers & ModifierFlag::command) {
        text += "Super+";
    }
    return text;
}

std::optional<std::string> keyName(std::uint16_t keyCode) {
    for (const auto& entry : keyNames) {
        if (entry.key == keyCode) {
            return entry.name;
        }
    }
    return std::nullopt;
}

std::string chordText(std::uint16_t keyCode, std::uint64_t modifiers) {
    return modifierPrefix(modifiers) + keyName(keyCode).value_or("Key " + std::to_string(keyCode));
}

} // namespace orvane::posix
