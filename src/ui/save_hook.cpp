#include "ui/save_hook.h"

#include <fstream>

namespace parvelle::ui {
namespace {

// Off Windows there are no Outlook profiles; a PST is recognised by its signature.
class DefaultStoreServices : public StoreServices {
public:
    std::vector<ProfileStore> profileStores() override { return {}; }
    PstOpenResult testOpen(const std::string& path, const std::string&) override {
        std::ifstream in(path, std::ios::binary);
        char magic[4] = {};
        if (!in.read(magic, 4))
            return PstOpenResult::Invalid;
        return std::string_view(magic, 4) == "!BDN" ? PstOpenResult::Accepted
                                                    : PstOpenResult::Invalid;
    }
};

SaveJobBody& bodySlot() {
    static SaveJobBody body;
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
