#include "ui/save_dialogs.h"

#include <array>
#include <cstdio>
#include <filesystem>

#include "platform/text.h"
#include "ui/texts.h"

namespace parvelle::ui {

std::string destinationSubfolder(const std::string& chosenFolder, std::time_t now) {
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&now, &tm);
    int hour12 = tm.tm_hour % 12;
    if (hour12 == 0)
        hour12 = 12;
    char time[64];
    std::snprintf(time, sizeof time, "%02d-%s-%04d %02d.%02d.%02d", tm.tm_mday,
                  kMonths[static_cast<std::size_t>(tm.tm_mon) % 12], tm.tm_year + 1900, hour12,
                  tm.tm_min, tm.tm_sec);
    std::string folder = chosenFolder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "Converted Data(" + time + ")";
}

// ---------------------------------------------------------------------------------------------

void FormatChoiceLogic::open() {
    state_.saveFormat = SaveFormat::None;
    checked_ = 0;
}

void FormatChoiceLogic::accept(int index) {
    checked_ = index;
    state_.saveFormat = formatAt(index);
}

SaveFormat FormatChoiceLogic::formatAt(int index) {
    static constexpr std::array<SaveFormat, kChoices> kFormats = {
        SaveFormat::Pst,  SaveFormat::Msg, SaveFormat::Eml,      SaveFormat::Rtf,
        SaveFormat::Html, SaveFormat::Pdf, SaveFormat::Office365};
    return index >= 0 && index < kChoices ? kFormats[static_cast<std::size_t>(index)]
                                          : SaveFormat::None;
}

const char* FormatChoiceLogic::labelAt(int index) {
    static constexpr std::array<const char*, kChoices> kLabels = {
        ".PST", ".MSG", ".EML", ".RTF", ".HTML", ".PDF", "Office 365"};
    return index >= 0 && index < kChoices ? kLabels[static_cast<std::size_t>(index)] : "";
}

// ---------------------------------------------------------------------------------------------

void DestinationFolderLogic::browseFinished(const std::optional<std::string>& folder) {
    if (folder && !folder->empty()) {
        state_.destinationPath = *folder;
        pathField_ = *folder;
        okEnabled_ = true;
    } else {
        okEnabled_ = !state_.destinationPath.empty();
    }
}

bool DestinationFolderLogic::accept(std::time_t now) {
    state_.destinationPath = destinationSubfolder(state_.destinationPath, now);
    std::error_code ec;
    std::filesystem::create_directories(state_.destinationPath, ec);
    return !ec;
}

void NewPstLogic::open() {
    state_.newPst = 1;
    requested_ = 1;
    folder_.setOkEnabled(false);
    perMailbox_ = true;
}

void NewPstLogic::chooseNewPst() {
    folder_.clearPathField();
    state_.newPst = 1;
}

void NewPstLogic::chooseAppend() {
    state_.newPst = 0;
    requested_ = 0;
}

bool NewPstLogic::accept(std::time_t now) {
    const bool created = folder_.accept(now);
    state_.pstPerMailbox = perMailbox_ ? 1 : 0;
    return created;
}

void FileExportLogic::open() {
    folder_.setOkEnabled(false);
    state_.newPst = 1;
}

int FileExportLogic::accept(std::time_t now) {
    folder_.accept(now);
    return 1;
}

// ---------------------------------------------------------------------------------------------

void AppendLogic::open() {
    passwordAccepted_ = false;
    chosenByBrowsing_ = false;
    state_.pstPassword.clear();
    rows_ = store_.profileStores();
    if (!rows_.empty())
        chooseProfiles();
    else
        choosePstFile();
}

void AppendLogic::chooseProfiles() {
    profileMode_ = true;
    pathField_.clear();
    if (!rows_.empty()) {
        selectedRow_ = 0;
        okEnabled_ = true;
    } else {
        selectedRow_ = -1;
        sink_.showMessage(texts::kNoProfileFound, MessageIcon::Information, true);
    }
}

void AppendLogic::choosePstFile() {
    profileMode_ = false;
    okEnabled_ = false;
}

void AppendLogic::browseStarted() {
    browsedPath_.clear();
    pathField_.clear();
}

void AppendLogic::browseFinished(const std::optional<std::string>& file) {
    if (file && !file->empty()) {
        state_.destinationPath = *file;
        browsedPath_ = *file;
        pathField_ = *file;
        chosenByBrowsing_ = true;
    }
    okEnabled_ = !browsedPath_.empty();
}

bool AppendLogic::accept(const PasswordPrompt& askPassword) {
    requested_ = 1;
    auto refuse = [this](const char* text, MessageIcon icon) {
        if (text != nullptr)
            sink_.showMessage(text, icon, true);
        requested_ = 0;
        return false;
    };
    if (profileMode_) {
        state_.destinationPath.clear();
        if (rows_.empty())
            return refuse(texts::kNoProfileFound, MessageIcon::Question);
        if (selectedRow_ < 0 || selectedRow_ >= static_cast<int>(rows_.size()))
            return refuse(texts::kSelectProfile, MessageIcon::Information);
        profilePstPath_ = rows_[static_cast<std::size_t>(selectedRow_)].pstPath;
    } else if (state_.destinationPath.empty()) {
        return refuse(texts::kSelectProfile, MessageIcon::Question);
    }
    if (state_.destinationPath.empty())
        state_.destinationPath = profilePstPath_;
    if (text::asciiLower(state_.destinationPath).find(".pst") == std::string::npos)
        return refuse(nullptr, MessageIcon::None);

    bool typedBefore = false;
    for (;;) {
        const std::string& path = chosenByBrowsing_ ? browsedPath_ : state_.destinationPath;
        const PstOpenResult result = store_.testOpen(path, state_.pstPassword);
        if (result == PstOpenResult::Accepted)
            break;
        if (result == PstOpenResult::Invalid)
            return refuse(texts::kInvalidPst, MessageIcon::Question);
        if (typedBefore)
            sink_.showMessage(texts::kPasswordMismatch, MessageIcon::Question, true);
        const auto password = askPassword ? askPassword() : std::nullopt;
        if (!password) {
            pathField_ = browsedPath_;
            return refuse(nullptr, MessageIcon::None);
        }
        state_.pstPassword = *password;
        typedBefore = true;
    }
    passwordAccepted_ = true;
    return true;
}

bool acceptPstPassword(JobState& state, const std::string& typed, MessageSink& sink) {
    state.pstPassword = typed;
    if (typed.empty()) {
        sink.showMessage(texts::kEnterPstPassword, MessageIcon::Information, true);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

void Office365Logic::open() {
    state_.office365MailId.clear();
    state_.office365Password.clear();
}

bool Office365Logic::accept(const std::string& mailId, const std::string& password) {
    state_.office365MailId = mailId;
    state_.office365Password = password;
    if (mailId.empty()) {
        sink_.showMessage(texts::kEnterOffice365Id, MessageIcon::Information, true);
        return false;
    }
    if (password.empty()) {
        sink_.showMessage(texts::kEnterPassword, MessageIcon::Information, true);
        return false;
    }
    return true;
}

bool saveCompleteLinkVisible(const JobState& state) {
    return state.saveFormat != SaveFormat::Office365;
}

std::string saveCompleteLinkTarget(const JobState& state) {
    if (state.newPst == 1)
        return state.destinationPath;
    const auto slash = state.destinationPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : state.destinationPath.substr(0, slash);
}

// ---------------------------------------------------------------------------------------------

bool runSaveCommand(JobState& state, bool rootChecked, SaveDialogs& dialogs, MessageSink& sink) {
    int pstSaveRequested = 0;
    state.destinationPath.clear();
    if (!rootChecked) {
        sink.showMessage(texts::kNoMailboxSelected, MessageIcon::Information, true);
        return false;
    }
    // Off Windows there is no Outlook to be running or missing and the store engine is built
    // in, so the checks that guard a save on Windows all pass here.
    state.saveFormat = SaveFormat::None;
    dialogs.formatDialog();
    int result = -1;
    switch (state.saveFormat) {
    case SaveFormat::Pst:
        dialogs.newPstDialog(pstSaveRequested);
        break;
    case SaveFormat::Msg:
    case SaveFormat::Eml:
    case SaveFormat::Rtf:
    case SaveFormat::Html:
    case SaveFormat::Pdf:
        result = dialogs.fileExportDialog();
        break;
    case SaveFormat::Office365:
        result = dialogs.office365Dialog();
        break;
    case SaveFormat::None:
        break;
    }
    return result == 1 || pstSaveRequested == 1;
}

} // namespace parvelle::ui
