// The version queries of the bootloader handshake, framed like the command
// lines of the update that runs: behind the header prefix in des_data, over
// the transfer command's frame, keeping its prefix character (and in text
// mode the quote before it).
//
//   query                      text mode        binary mode
//   get_bootloader_version     "<p>r$"          <block header> <p> 08 '$'
//   get_main_version           "<p>r#00$"       <block header> <p> 08 '#' 00 '$'
#pragma once

#include "link/queries.h"
#include "script/file_settings.h"

// Builds the query in upd.des_data, over the transfer command's frame that
// program_cmd has just built there, and returns it (frame is des_data).
VersionQuery get_bootloader_version(FileSettings& upd);
VersionQuery get_main_version(FileSettings& upd);

// The versions the per-file settings accept (a view of upd's texts).
VersionRules version_rules(const FileSettings& upd);
