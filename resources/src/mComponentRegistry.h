#pragma once
// The per-user component registry: a small text file in the user's config folder that
// maps class identifiers to the library that serves them, one "{CLSID}=/path/lib.so"
// a line. Libraries write their own entry; the program reads it.

#include "vorskres.h"

#include <filesystem>
#include <string>

// $XDG_CONFIG_HOME/Vorsk/components.conf, else $HOME/.config/Vorsk/components.conf;
// empty when neither variable is set.
std::filesystem::path ComponentRegistryFile();

// "{F780C899-56CD-4285-8265-B228CAC37838}" for CLSID_cResource.
std::string GuidText(const VorskGuid &guid);

// The library recorded for clsid; empty when none is or the file cannot be read.
std::string LookupComponent(const std::filesystem::path &file, const VorskGuid &clsid);

// Records libraryPath (absolute) for clsid, keeping every other entry. False when the file
// cannot be read or written; the file is then left as it was.
bool RegisterComponent(const std::filesystem::path &file, const VorskGuid &clsid,
                       const std::string &libraryPath);

// Removes clsid's entry when it names libraryPath, so that one library never drops another
// library's registration. True when no entry of libraryPath remains.
bool UnregisterComponent(const std::filesystem::path &file, const VorskGuid &clsid,
                         const std::string &libraryPath);
