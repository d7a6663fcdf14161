#pragma once
// Public interface of the wording library libvorskres.so.

// Folder kinds taken by cTools::RetSysDir.
enum SysDirEnum {
    LDV_SystemFolder = 0,
    LDV_WindowsFolder = 1,
    LDV_TempFolder = 2,
};
