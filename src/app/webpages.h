#pragma once

#include <QString>

// The product's pages: the built-in help, the support address, the download page and the About text.
namespace WebPages {
// Writes the built-in help page into the data folder and returns its path; empty when it cannot be written.
QString writeHelpPage();
QString supportMail();
// The support address itself.
QString supportAddress();
QString downloadPage();
// Product name, version and the libraries in use, as rich text.
QString aboutText();
} // namespace WebPages
