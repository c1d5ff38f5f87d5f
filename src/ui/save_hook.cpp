#include "ui/save_hook.h"

#include "mailbox/save_job.h"
#include "store/component/store_session.h"

namespace parvelle::ui {
namespace {

// The store session's own services: the profile list (empty off Windows) and a test open of the
// PST with the password, classified as the dialogs need it.
class DefaultStoreServices : public StoreServices {
public:
    std::vector<ProfileStore> profileStores() override {
        std::vector<ProfileStore> stores;
        bool available = true;
        for (const auto& row : component::ListProfileStores(probe_, available, {}))
            stores.push_back({row.profile, row.path});
        return stores;
    }
    PstOpenResult testOpen(const std::string& path, const std::string& password) override {
        bool available = true;
        switch (component::TestPstPassword(probe_, available, {}, path, password, true)) {
        case component::PstTestOutcome::Opened:
            return PstOpenResult::Accepted;
        case component::PstTestOutcome::WrongPassword:
            return PstOpenResult::PasswordRequired;
        default:
            return PstOpenResult::Invalid;
        }
    }

private:
    component::SessionHolder probe_;
};

SaveJobBody& bodySlot() {
    static SaveJobBody body = [](mailbox::MailboxConverter& converter) {
        mailbox::SaveJob(converter, converter.state(), converter.frontEnd()).run();
    };
    return body;
}

std::shared_ptr<StoreServices>& servicesSlot() {
    static std::shared_ptr<StoreServices> services = std::make_shared<DefaultStoreServices>();
    return services;
}

} // namespace

void setSaveJobBody(SaveJobBody body) {
    bodySlot() = std::move(body);
}

const SaveJobBody& saveJobBody() {
    return bodySlot();
}

void setStoreServices(std::shared_ptr<StoreServices> services) {
    servicesSlot() = services ? std::move(services) : std::make_shared<DefaultStoreServices>();
}

StoreServices& storeServices() {
    return *servicesSlot();
}

} // namespace parvelle::ui
