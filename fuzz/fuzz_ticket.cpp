// Job files as the reference server reads them from its hot folder: the
// header, then the PROCESS ticket, then the check of the ticket's paths
// against the server's volumes. What the reader accepts must hold values the
// server can use.
#include "JobFile.h"
#include "Volumes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void CheckAccepted(const JobTicket& t) {
    const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    if (t.pathIn.empty() || t.resX < 1 || t.resX > 10000 || t.resY < 1 || t.resY > 10000 ||
        !(t.scaleX > 0 && t.scaleY > 0) || !(t.width > 0 && t.height > 0) || t.prefix.size() > 5 ||
        std::any_of(t.pathIn.begin(), t.pathIn.end(), control) ||
        std::any_of(t.pathOut.begin(), t.pathOut.end(), control)) {
        std::abort();
    }
    // No file the fuzzer names lies inside this volume: every path is refused.
    const std::vector<std::string> volumes = {"/nonexistent-ordodesk-volume"};
    std::string resolved;
    std::string error;
    if (CheckTicketPath(volumes, t.pathIn, true, resolved, error) ||
        CheckTicketPath(volumes, t.pathOut, false, resolved, error) || error.empty()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 65536));
    JobTicket ticket;
    std::string error;
    if (ParseTicket(text, ticket, error)) {
        CheckAccepted(ticket);
    }
    JobFile job;
    if (ParseJobFile(text, job, error)) {
        if (!IsPlainFolderName(job.clientId)) {
            std::abort();
        }
        if (KindOf(job.body) == JobKind::process && ParseTicket(job.body, ticket, error)) {
            CheckAccepted(ticket);
        }
    }
    return 0;
}
