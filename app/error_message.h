#pragma once

#include <string>
#include <string_view>

#include "base/transfer_error.h"

namespace qelt {

// Message identifiers of the window and its error boxes; "{1}" is the game name.
inline const std::string kWindowTitleMessage = "{1} Downloader";
inline const std::string kErrorCaptionMessage = "{1} Downloader Error";
inline const std::string kLaunchingMessage = "Launching {1} Downloader";

// "Please visit <host> for further assistance."
std::string SupportSentence(std::string_view supportHost);

// The message identifier (untranslated) the user sees for a failed transfer's error code: a text for a lost
// connection, lack of memory, a full disk and a disk that cannot be written (5 and 7), and for every other code
// the unexpected-error text with the support sentence. The support host is the compiled-in one, because the
// compiled-in catalogs carry that host in their keys.
std::string ErrorMessage(TransferError code);

// The identifier shown when the downloaded program could not be started; "{1}" is the game name (translate it
// with TranslateWith).
std::string LaunchFailureMessage();

}  // namespace qelt
