#include "ProgressLine.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

std::string FormatBytes(uint64_t bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        unit++;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatDuration(double seconds)
{
    uint64_t whole = uint64_t(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", whole / 3600,
                      unsigned(whole / 60 % 60), unsigned(whole % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(whole / 60), unsigned(whole % 60));
    return text;
}

size_t TerminalWidth(int descriptor)
{
    struct winsize size = {};
    if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

std::string FormatProgress(const PackProgress &progress, double seconds, size_t width)
{
    std::string files =
        std::to_string(progress.files) + "/" + std::to_string(progress.totalFiles) + " files";
    std::string bytes = FormatBytes(progress.bytes) + " of " + FormatBytes(progress.totalBytes);
    std::string archive, rate, left;
    /* The archive's size against the data read so far: how well it packs. */
    if (progress.bytes > 0) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%.0f %%",
                      100.0 * double(progress.archiveBytes) / double(progress.bytes));
        archive = ", archive " + FormatBytes(progress.archiveBytes) + " (" + ratio + ")";
    }
    /* The rate means something only after a moment of work. */
    if (seconds >= 0.5 && progress.bytes > 0) {
        double perSecond = double(progress.bytes) / seconds;
        rate = ", " + FormatBytes(uint64_t(perSecond)) + "/s";
        /* The tree may have grown since it was counted. */
        uint64_t rest =
            progress.totalBytes > progress.bytes ? progress.totalBytes - progress.bytes : 0;
        left = ", " + FormatDuration(double(rest) / perSecond) + " left";
    }
    /* The fullest form that fits; the last column stays free, since writing
       there makes some terminals wrap. */
    const std::string forms[] = {
        "Packing " + files + ", " + bytes + archive + rate + left,
        files + ", " + bytes + archive + left,
        files + ", " + bytes + left,
        files + left,
    };
    size_t room = width > 0 ? width - 1 : 0;
    for (const std::string &form : forms) {
        if (form.size() <= room)
            return form;
    }
    return forms[3].substr(0, room);
}

ProgressLine::ProgressLine(int descriptor)
    : descriptor_(descriptor), terminal_(isatty(descriptor) == 1),
      start_(std::chrono::steady_clock::now())
{
}

void ProgressLine::Update(const PackProgress &progress)
{
    if (!terminal_)
        return;
    auto now = std::chrono::steady_clock::now();
    bool finished = progress.files == progress.totalFiles && progress.bytes >= progress.totalBytes;
    if (looked_ && !finished && now - lastLooked_ < std::chrono::milliseconds(100))
        return;
    looked_ = true;
    lastLooked_ = now;
    if (!InForeground())
        return;
    drawn_ = true;
    double seconds = std::chrono::duration<double>(now - start_).count();
    std::string text = FormatProgress(progress, seconds, TerminalWidth(descriptor_));
    size_t length = text.size();
    /* Blanks over whatever the previous, longer line left. */
    if (length < shownLength_)
        text.append(shownLength_ - length, ' ');
    text.insert(text.begin(), '\r');
    Write(text);
    shownLength_ = length;
}

void ProgressLine::Clear()
{
    if (!terminal_ || !drawn_ || !InForeground())
        return;
    std::string blank(shownLength_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    Write(blank);
    shownLength_ = 0;
    drawn_ = false;
}

/* A job in the background leaves the terminal to the one in front; a
   terminal that is not the controlling one has no foreground to respect. */
bool ProgressLine::InForeground() const
{
    pid_t foreground = tcgetpgrp(descriptor_);
    return foreground == -1 || foreground == getpgrp();
}

void ProgressLine::Write(const std::string &text)
{
    size_t written = 0;
    while (written < text.size()) {
        ssize_t count = write(descriptor_, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        /* A terminal that is gone takes no progress; packing goes on. */
        if (count <= 0)
            return;
        written += size_t(count);
    }
}
