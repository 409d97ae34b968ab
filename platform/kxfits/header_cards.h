// The caller's header cards: checked before anything is written, then written through CFITSIO.
#pragma once

#include "cfitsio_library.h"
#include "kxfits.h"

#include <string>
#include <vector>

namespace kestro::kxfits {

// Empty when every card can be written as it stands; otherwise what is wrong with the first card
// that cannot, in words.
std::string checkCards(const std::vector<kxFitsFile::headerCard>& cards);

// Writes the cards in order to the current HDU; CFITSIO's status convention.
int writeCards(const CfitsioLibrary& fits, fitsfile* file, const std::vector<kxFitsFile::headerCard>& cards,
               int* status);

// Text as a FITS header can hold it: printable ASCII, with '?' for each other character.
std::string headerText(const std::string& text);

} // namespace kestro::kxfits
