// The viewer's actions, the names that the settings file stores for actions
// and keys, and the default key bindings.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// Action ids; the numbers are stored in no file, the names are.
enum Action : int {
    kActionNone = 0,
    kActionExit = 1,
    kActionDelete = 2,
    kActionNext1 = 3,
    kActionNext = 4,
    kActionPrev1 = 5,
    kActionPrev = 6,
    kActionToggleSpread = 7,
    kActionToggleBind = 8,
    kActionSetWallPaper = 9,
    kActionChangeBkColor = 10,
};

// Rows of (code, name): .first and .second, as the settings reader and writer
// take their enumeration tables.
using NameRow = std::pair<int, std::wstring>;
using NameTable = std::vector<NameRow>;

// Built on first use, never changed afterwards.
const NameTable& ActionNameTable();
// Windows virtual-key codes by name, 97 rows.
const NameTable& KeyNameTable();

// The code of the first row named exactly so (case counts); an unknown name
// leaves code as it was and gives false.
bool CodeOfName(const NameTable& table, const wchar_t* name, int& code);
// The name of the first row with the code; "" when no row has it.
const wchar_t* NameOfCode(const NameTable& table, int code);

// Key code to action id. Inserting never replaces: the first binding of a key holds.
using KeyActionMap = std::map<int, int>;

void InsertDefaultBindings(KeyActionMap& keyAction);
// One (key name, action name) pair as a settings file gives it: an unknown key
// binds code 0, which no key produces; an unknown action is "None".
void InsertBinding(KeyActionMap& keyAction, const wchar_t* keyName, const wchar_t* actionName);
// "None" for an unbound key, so that a key bound to "None" acts as unbound.
int ActionOfKey(const KeyActionMap& keyAction, int key);
