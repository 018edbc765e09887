// Names made from the file names a browser sends with an upload: the file's own name in the
// project's art folder, and the entry's name, which must give a C name.
#pragma once

#include <string>
#include <string_view>

// A file name safe to create from a name a browser sent: its last component, with letters of any
// script, digits, '.', '-' and '_' (anything else as '_'), no leading dot, at most 64 bytes of
// UTF-8; "upload" when nothing is left. Names that Windows keeps for devices get a '_' in front.
std::string safe_file_name(std::string_view sent);

// An entry name from a file name without its extension: lower-case ASCII letters and digits with
// single '_' between words, letters of other scripts spelled in Latin where they can be
// ("Écran d'accueil" gives "ecran_d_accueil", "икона" gives "ikona"); "image" when nothing is
// left, and "image_" in front of a digit.
std::string entry_name_from(std::string_view file_stem);
