// The information dialog: the program's name, version, maker, a link to the
// maker's web site and the usage text, in coloured text on black.
#pragma once

#include <string>

namespace kelzar {

// Builds the dialog and runs it modally on the calling thread, without an
// owner window; returns when the user has closed it (close box, system menu,
// Alt+F4), or at once when the window cannot be created.
void ShowInfoDialog(const std::string& caption);

} // namespace kelzar
