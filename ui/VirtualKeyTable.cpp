#include "ui/VirtualKeyTable.h"

#include <array>

namespace hushwell {

namespace {

constexpr std::array<VirtualKey, VirtualKeyTable::kKeyCount> kKeys = {{
    {8, "Back"},      {13, "Return"},   {32, "Space"},    {35, "End"},      {36, "Home"},
    {45, "Insert"},   {46, "Delete"},   {37, "Left"},     {38, "Up"},       {39, "Right"},
    {40, "Down"},     {48, "0"},        {49, "1"},        {50, "2"},        {51, "3"},
    {52, "4"},        {53, "5"},        {54, "6"},        {55, "7"},        {56, "8"},
    {57, "9"},        {65, "A"},        {66, "B"},        {67, "C"},        {68, "D"},
    {69, "E"},        {70, "F"},        {71, "G"},        {72, "H"},        {73, "I"},
    {74, "J"},        {75, "K"},        {76, "L"},        {77, "M"},        {78, "N"},
    {79, "O"},        {80, "P"},        {81, "Q"},        {82, "R"},        {83, "S"},
    {84, "T"},        {85, "U"},        {86, "V"},        {87, "W"},        {88, "X"},
    {89, "Y"},        {90, "Z"},        {96, "NumPad 0"}, {97, "NumPad1"},  {98, "NumPad2"},
    {99, "NumPad3"},  {100, "NumPad4"}, {101, "NumPad5"}, {102, "NumPad6"}, {103, "NumPad7"},
    {104, "NumPad8"}, {105, "NumPad9"}, {112, "F1"},      {113, "F2"},      {114, "F3"},
    {115, "F4"},      {116, "F5"},      {117, "F6"},      {118, "F7"},      {119, "F8"},
    {120, "F9"},      {121, "F10"},     {122, "F11"},     {123, "F12"},
}};

}  // namespace

std::span<const VirtualKey> VirtualKeyTable::Keys() {
    return kKeys;
}

std::string_view VirtualKeyTable::NameOf(int code) {
    for (const VirtualKey& key : kKeys) {
        if (key.code == code) {
            return key.name;
        }
    }
    return {};
}

bool VirtualKeyTable::ChangesWithShift(int code) {
    return (code >= kDigit0 && code <= kDigit9) || (code >= kLetterA && code <= kLetterZ) ||
           (code >= kNumPad0 && code <= kNumPad9);
}

}  // namespace hushwell
