#include "app/error_message.h"

#include "resources/deployment.h"

namespace qelt {

std::string SupportSentence(std::string_view supportHost) {
    return "Please visit " + std::string(supportHost) + " for further assistance.";
}

std::string ErrorMessage(TransferError code) {
    switch (code) {
        case TransferError::ConnectionError:
            return "We couldn't establish a connection. Could you please check your connection and try again?";
        case TransferError::MemoryError:
            return "The system is out of memory; are you running too many programs? Free up some memory and try "
                   "again.";
        case TransferError::DiskFullError:
            return "It looks like your system disk is out of space. Free some space and give it another try.";
        case TransferError::DiskAccessError:
        case TransferError::DiskWriteError:
            return "We're having some trouble writing to your disk. Can you make sure your user account has "
                   "sufficient permissions and try again?";
        default:
            return "An unexpected error occurred. " + SupportSentence(deployment::SupportHost());
    }
}

std::string LaunchFailureMessage() {
    return "The {1} Downloader could not be launched. " + SupportSentence(deployment::SupportHost());
}

}  // namespace qelt
