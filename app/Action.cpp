#include "Action.h"

#include <windows.h>

#include <cwchar>

namespace {

struct Binding {
    int key;
    int action;
};

constexpr Binding kDefaultBindings[] = {
    {'S', kActionToggleSpread}, {'L', kActionToggleBind}, {'B', kActionSetWallPaper}, {'C', kActionChangeBkColor},
    {VK_RIGHT, kActionNext},    {VK_DOWN, kActionNext1},  {VK_LEFT, kActionPrev},     {VK_UP, kActionPrev1},
    {VK_DELETE, kActionDelete}, {VK_RETURN, kActionExit}, {VK_ESCAPE, kActionExit},   {VK_SPACE, kActionExit},
};

// Keys named by a character: the name is the code's own character.
void AddCharKeys(NameTable& table, wchar_t first, wchar_t last) {
    for (wchar_t ch = first; ch <= last; ++ch)
        table.emplace_back(ch, std::wstring(1, ch));
}

// Numbered keys: prefix + number, codes rising with the number.
void AddNumberedKeys(NameTable& table, const wchar_t* prefix, int firstNumber, int count, int firstCode) {
    for (int i = 0; i < count; ++i)
        table.emplace_back(firstCode + i, prefix + std::to_wstring(firstNumber + i));
}

NameTable BuildKeyNameTable() {
    // "DELETE" comes before "INSERT" although its code is the higher one.
    NameTable table = {
        {VK_BACK, L"BACK"},       {VK_TAB, L"TAB"},           {VK_CLEAR, L"CLEAR"},   {VK_RETURN, L"RETURN"},
        {VK_ESCAPE, L"ESCAPE"},   {VK_SPACE, L"SPACE"},       {VK_PRIOR, L"PRIOR"},   {VK_NEXT, L"NEXT"},
        {VK_END, L"END"},         {VK_HOME, L"HOME"},         {VK_LEFT, L"LEFT"},     {VK_UP, L"UP"},
        {VK_RIGHT, L"RIGHT"},     {VK_DOWN, L"DOWN"},         {VK_SELECT, L"SELECT"}, {VK_PRINT, L"PRINT"},
        {VK_EXECUTE, L"EXECUTE"}, {VK_SNAPSHOT, L"SNAPSHOT"}, {VK_DELETE, L"DELETE"}, {VK_INSERT, L"INSERT"},
        {VK_HELP, L"HELP"},
    };
    // The digits as on the keyboard's top row: "1" to "9", then "0".
    AddCharKeys(table, L'1', L'9');
    AddCharKeys(table, L'0', L'0');
    AddCharKeys(table, L'A', L'Z');
    AddNumberedKeys(table, L"NUMPAD", 0, 10, VK_NUMPAD0);
    const NameTable numpadSigns = {{VK_MULTIPLY, L"MULTIPLY"}, {VK_ADD, L"ADD"},         {VK_SEPARATOR, L"SEPARATOR"},
                                   {VK_SUBTRACT, L"SUBTRACT"}, {VK_DECIMAL, L"DECIMAL"}, {VK_DIVIDE, L"DIVIDE"}};
    table.insert(table.end(), numpadSigns.begin(), numpadSigns.end());
    AddNumberedKeys(table, L"F", 1, 24, VK_F1);
    return table;
}

}  // namespace

const NameTable& ActionNameTable() {
    static const NameTable table = {
        {kActionNone, L"None"},
        {kActionExit, L"Exit"},
        {kActionDelete, L"Delete"},
        {kActionNext1, L"Next1"},
        {kActionNext, L"Next"},
        {kActionPrev1, L"Prev1"},
        {kActionPrev, L"Prev"},
        {kActionToggleSpread, L"ToggleSpread"},
        {kActionToggleBind, L"ToggleBind"},
        {kActionSetWallPaper, L"SetWallPaper"},
        {kActionChangeBkColor, L"ChangeBkColor"},
    };
    return table;
}

const NameTable& KeyNameTable() {
    static const NameTable table = BuildKeyNameTable();
    return table;
}

bool CodeOfName(const NameTable& table, const wchar_t* name, int& code) {
    for (const NameRow& row : table) {
        if (row.second == name) {
            code = row.first;
            return true;
        }
    }
    return false;
}

const wchar_t* NameOfCode(const NameTable& table, int code) {
    for (const NameRow& row : table) {
        if (row.first == code)
            return row.second.c_str();
    }
    return L"";
}

void InsertDefaultBindings(KeyActionMap& keyAction) {
    for (const Binding& binding : kDefaultBindings)
        keyAction.insert({binding.key, binding.action});
}

void InsertBinding(KeyActionMap& keyAction, const wchar_t* keyName, const wchar_t* actionName) {
    int key = 0;
    int action = kActionNone;
    CodeOfName(KeyNameTable(), keyName, key);
    CodeOfName(ActionNameTable(), actionName, action);
    keyAction.insert({key, action});
}

int ActionOfKey(const KeyActionMap& keyAction, int key) {
    auto found = keyAction.find(key);
    return found == keyAction.end() ? kActionNone : found->second;
}
