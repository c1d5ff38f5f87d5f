#include "olmgen/documents.h"

#include "olmgen/xml_element.h"

#include <algorithm>

namespace parvelle::olmgen {

namespace {

// Outlook writes these flags as "1E0" / "0E0".
std::string flag(bool value) {
    return value ? "1E0" : "0E0";
}
std::string bit(bool value) {
    return value ? "1" : "0";
}

XmlElement emailAddress(const Address& address) {
    XmlElement entry("emailAddress");
    entry.optionalAttribute("OPFContactEmailAddressAddress", address.address)
        .optionalAttribute("OPFContactEmailAddressName", address.name)
        .attribute("OPFContactEmailAddressType", "0");
    return entry;
}

XmlElement addressList(std::string name, const std::vector<Address>& addresses) {
    XmlElement list(std::move(name));
    for (const Address& address : addresses) {
        list.child(emailAddress(address));
    }
    return list;
}

XmlElement contactEmailAddress(const ContactEmail& email) {
    XmlElement entry("contactEmailAddress");
    entry.optionalAttribute("OPFContactEmailAddressAddress", email.address)
        .attribute("OPFContactEmailAddressType", email.type);
    return entry;
}

XmlElement recurrenceElement(std::string name, const Recurrence& recurrence) {
    XmlElement pattern("OPFRecurrencePattern");
    if (recurrence.dayOfMonth > 0) {
        pattern.child(
            XmlElement("OPFRecurrencePatternDayOfMonth", std::to_string(recurrence.dayOfMonth)));
    }
    if (!recurrence.days.empty()) {
        const auto has = [&](std::string_view day) {
            return std::find(recurrence.days.begin(), recurrence.days.end(), day) !=
                   recurrence.days.end();
        };
        const std::vector<std::string_view> weekdays = {"monday", "tuesday", "wednesday",
                                                        "thursday", "friday"};
        const bool allWeekdays = std::all_of(weekdays.begin(), weekdays.end(), has);
        const bool weekend = has("saturday") && has("sunday");
        XmlElement days("OPFRecurrencePatternDaysOfWeek");
        for (std::string_view day :
             {"friday", "monday", "saturday", "sunday", "thursday", "tuesday", "wednesday"}) {
            days.child(XmlElement(std::string(day), bit(has(day))));
        }
        days.child(XmlElement("allDays", bit(allWeekdays && weekend)));
        days.child(XmlElement("weekdays", bit(allWeekdays)));
        days.child(XmlElement("weekenddays", bit(weekend)));
        pattern.child(std::move(days));
    }
    pattern.child(XmlElement("OPFRecurrencePatternInterval", std::to_string(recurrence.interval)));
    if (recurrence.month > 0) {
        pattern.child(XmlElement("OPFRecurrencePatternMonth", std::to_string(recurrence.month)));
    }
    pattern.child(XmlElement("OPFRecurrencePatternType", recurrence.patternType));

    XmlElement element(std::move(name));
    element.optionalChild("OPFRecurrenceCopyEndDate", recurrence.endDate)
        .optionalChild("OPFRecurrenceCopyStartDate", recurrence.startDate)
        .child(XmlElement("OPFRecurrenceHasEndDate", bit(!recurrence.endDate.empty())))
        .child(XmlElement("OPFRecurrenceIsNoEnd",
                          bit(recurrence.endDate.empty() && recurrence.occurrences == 0)))
        .child(XmlElement("OPFRecurrenceIsNumbered", bit(recurrence.occurrences > 0)))
        .child(std::move(pattern));
    if (recurrence.occurrences > 0) {
        element.child(
            XmlElement("OPFRecurrenceGetOccurenceCount", std::to_string(recurrence.occurrences)));
    }
    return element;
}

// Applies a fixture's overrides to the generated item element and renders it.
std::string finish(XmlElement item, const DocumentOverrides& overrides) {
    if (!overrides.rawXml.empty()) {
        return overrides.rawXml;
    }
    std::erase_if(item.children, [&](const XmlElement& child) {
        return std::find(overrides.omittedElements.begin(), overrides.omittedElements.end(),
                         child.name) != overrides.omittedElements.end();
    });
    for (const auto& [name, text] : overrides.extraElements) {
        item.child(XmlElement(name, text));
    }
    std::string out;
    renderXml(item, out);
    return out;
}

} // namespace

std::string scientificSize(std::uint64_t size) {
    if (size == 0) {
        return "0E0";
    }
    std::string digits = std::to_string(size);
    const std::size_t exponent = digits.size() - 1;
    std::string fraction = digits.substr(1);
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    std::string out(1, digits[0]);
    if (!fraction.empty()) {
        out += '.';
        out += fraction;
    }
    return out + "E" + std::to_string(exponent);
}

std::string mailDocument(const Mail& mail, std::string_view messageId,
                         const std::vector<std::string>& attachmentUrls) {
    if (!mail.overrides.rawXml.empty()) {
        return mail.overrides.rawXml;
    }
    XmlElement email("email");
    if (!mail.attachments.empty()) {
        XmlElement list("OPFMessageCopyAttachmentList");
        for (std::size_t i = 0; i < mail.attachments.size(); ++i) {
            const Attachment& attachment = mail.attachments[i];
            XmlElement entry("messageAttachment");
            entry.optionalAttribute("OPFAttachmentContentExtension", attachment.extension)
                .attribute("OPFAttachmentContentFileSize",
                           scientificSize(attachment.content.size()))
                .optionalAttribute("OPFAttachmentContentID", attachment.contentId)
                .optionalAttribute("OPFAttachmentContentType", attachment.contentType)
                .attribute("OPFAttachmentName", attachment.name)
                .attribute("OPFAttachmentURL", i < attachmentUrls.size() ? attachmentUrls[i] : "");
            list.child(std::move(entry));
        }
        email.child(std::move(list));
    }
    if (!mail.bcc.empty()) {
        email.child(addressList("OPFMessageCopyBCCAddresses", mail.bcc));
    }
    email.child(XmlElement("OPFMessageCopyBody", mail.body));
    if (!mail.cc.empty()) {
        email.child(addressList("OPFMessageCopyCCAddresses", mail.cc));
    }
    const bool hasSender = !mail.from.address.empty() || !mail.from.name.empty();
    if (hasSender) {
        email.child(addressList("OPFMessageCopyFromAddresses", {mail.from}));
        email.child(addressList("OPFMessageCopySenderAddress", {mail.from}));
    }
    email.child(XmlElement("OPFMessageCopyGetFlagStatus", "0"))
        .optionalChild("OPFMessageCopyHTMLBody", mail.htmlBody)
        .child(XmlElement("OPFMessageCopyMessageID", std::string(messageId)))
        .optionalChild("OPFMessageCopyModDate",
                       mail.modDate.empty() ? mail.receivedTime : mail.modDate)
        .optionalChild("OPFMessageCopyReceivedTime", mail.receivedTime)
        .optionalChild("OPFMessageCopySentTime", mail.sentTime)
        .child(XmlElement("OPFMessageCopySubject", mail.subject))
        .child(XmlElement("OPFMessageCopyThreadTopic", mail.subject));
    if (!mail.to.empty()) {
        email.child(addressList("OPFMessageCopyToAddresses", mail.to));
    }
    email.child(XmlElement("OPFMessageGetCalendarAcceptStatus", "0"))
        .child(XmlElement("OPFMessageGetHasHTML", flag(!mail.htmlBody.empty())))
        .child(XmlElement("OPFMessageGetHasRichText", flag(false)))
        .child(XmlElement("OPFMessageGetInferenceClassification", "-1"))
        .child(XmlElement("OPFMessageGetIsRead", flag(mail.isRead)))
        .child(XmlElement("OPFMessageGetMentionedMe", flag(false)))
        .child(XmlElement("OPFMessageGetOverrideEncoding", flag(false)))
        .child(XmlElement("OPFMessageGetPriority", std::to_string(mail.priority)))
        .child(XmlElement("OPFMessageGetSendReadReceipt", "-1"))
        .child(XmlElement("OPFMessageGetWasSent", flag(mail.isOutgoing)))
        .child(XmlElement("OPFMessageIsCalendarMessage", "0"))
        .child(XmlElement("OPFMessageIsOutgoing", flag(mail.isOutgoing)))
        .child(XmlElement("OPFMessageIsOutgoingMeetingResponse", "0"));
    return aggregateDocument("emails", {finish(std::move(email), mail.overrides)});
}

std::string contactElement(const Contact& c) {
    XmlElement contact("contact");
    contact.child(XmlElement("OPFContactCanDelete", "0"))
        .child(XmlElement("OPFContactCanEdit", "1"))
        .child(XmlElement("OPFContactCopyContactImage", "0"))
        .child(XmlElement("OPFContactGetFlagStatus", "0"))
        .child(XmlElement("OPFContactIsJapaneseContact", "0"))
        .child(XmlElement("OPFContactType", "0"));
    const std::pair<const char*, const std::string*> texts[] = {
        {"OPFContactCopyAnniversary", &c.anniversary},
        {"OPFContactCopyBirthday", &c.birthday},
        {"OPFContactCopyBusinessCity", &c.businessCity},
        {"OPFContactCopyBusinessCompany", &c.company},
        {"OPFContactCopyBusinessCountry", &c.businessCountry},
        {"OPFContactCopyBusinessDepartment", &c.department},
        {"OPFContactCopyBusinessFax", &c.businessFax},
        {"OPFContactCopyBusinessHomePage", &c.businessHomePage},
        {"OPFContactCopyBusinessPhone", &c.businessPhone},
        {"OPFContactCopyBusinessState", &c.businessState},
        {"OPFContactCopyBusinessStreetAddress", &c.businessStreet},
        {"OPFContactCopyBusinessTitle", &c.jobTitle},
        {"OPFContactCopyBusinessZip", &c.businessZip},
        {"OPFContactCopyCellPhone", &c.cellPhone},
        {"OPFContactCopyDisplayName", &c.displayName},
        {"OPFContactCopyFirstName", &c.firstName},
        {"OPFContactCopyHomeCity", &c.homeCity},
        {"OPFContactCopyHomeCountry", &c.homeCountry},
        {"OPFContactCopyHomePhone", &c.homePhone},
        {"OPFContactCopyHomeState", &c.homeState},
        {"OPFContactCopyHomeStreetAddress", &c.homeStreet},
        {"OPFContactCopyHomeZip", &c.homeZip},
        {"OPFContactCopyLastName", &c.lastName},
        {"OPFContactCopyMiddleName", &c.middleName},
        {"OPFContactCopyModDate", &c.modDate},
        {"OPFContactCopyNickName", &c.nickName},
        {"OPFContactCopyNotes", &c.notes},
        {"OPFContactCopySetNameSuffix", &c.nameSuffix},
        {"OPFContactCopySpousesName", &c.spouse},
        {"OPFContactCopyTitle", &c.title},
    };
    for (const auto& [name, text] : texts) {
        contact.optionalChild(name, *text);
    }
    if (!c.children.empty()) {
        XmlElement children("OPFContactCopyChildren");
        for (const std::string& child : c.children) {
            children.child(XmlElement("string", child));
        }
        contact.child(std::move(children));
    }
    if (!c.emails.empty()) {
        XmlElement list("OPFContactCopyEmailAddressList");
        for (const ContactEmail& email : c.emails) {
            list.child(contactEmailAddress(email));
        }
        contact.child(std::move(list));
        contact.child(XmlElement("OPFContactCopyDefaultEmailAddress")
                          .child(contactEmailAddress(c.emails.front())));
    }
    if (!c.imAddress.empty()) {
        contact.child(XmlElement("OPFContactCopyDefaultIMAddress")
                          .child(contactEmailAddress({c.imAddress, "0"})));
    }
    return finish(std::move(contact), c.overrides);
}

std::string groupElement(const Group& g) {
    XmlElement group("group");
    group.optionalChild("OPFGroupCopyDisplayName", g.displayName)
        .optionalChild("OPFGroupCopyModDate", g.modDate)
        .optionalChild("OPFGroupCopyNotes", g.notes);
    if (!g.members.empty()) {
        group.child(addressList("OPFGroupCopyMemberList", g.members));
    }
    return finish(std::move(group), g.overrides);
}

std::string eventElement(const Event& e) {
    XmlElement event("appointment");
    if (!e.attendees.empty()) {
        XmlElement list("OPFCalendarEventCopyAttendeeList");
        for (const Attendee& attendee : e.attendees) {
            XmlElement entry("appointmentAttendee");
            entry.optionalAttribute("OPFCalendarAttendeeAddress", attendee.address)
                .optionalAttribute("OPFCalendarAttendeeName", attendee.name)
                .attribute("OPFCalendarAttendeeResponseRequested", bit(attendee.responseRequested))
                .attribute("OPFCalendarAttendeeStatus", std::to_string(attendee.status))
                .attribute("OPFCalendarAttendeeType", std::to_string(attendee.type));
            list.child(std::move(entry));
        }
        event.child(std::move(list));
    }
    event.optionalChild("OPFCalendarEventCopyDescription", e.description)
        .optionalChild("OPFCalendarEventCopyEndTime", e.endTime)
        .optionalChild("OPFCalendarEventCopyLocation", e.location)
        .optionalChild("OPFCalendarEventCopyModDate", e.modDate)
        .optionalChild("OPFCalendarEventCopyOrganizer", e.organizer)
        .optionalChild("OPFCalendarEventCopyStartTime", e.startTime)
        .optionalChild("OPFCalendarEventCopySummary", e.summary)
        .optionalChild("OPFCalendarEventCopyTimeZone", e.timeZone)
        .child(XmlElement("OPFCalendarEventGetHasReminder", bit(e.hasReminder)))
        .child(XmlElement("OPFCalendarEventGetIsAllDayEvent", bit(e.allDay)))
        .child(XmlElement("OPFCalendarEventGetIsPrivate", bit(e.isPrivate)))
        .child(XmlElement("OPFCalendarEventIsRecurring", bit(e.recurrence.has_value())))
        .child(XmlElement("OPFCalendarEventSetIsOwner", "1"));
    if (e.hasReminder) {
        event.child(
            XmlElement("OPFCalendarEventCopyReminderDelta", std::to_string(e.reminderDelta)));
    }
    if (e.recurrence) {
        event.child(recurrenceElement("OPFCalendarEventCopyRecurrence", *e.recurrence));
    }
    return finish(std::move(event), e.overrides);
}

std::string taskElement(const Task& t) {
    XmlElement task("task");
    task.optionalChild("OPFTaskCopyCompletedDateTime", t.completedDateTime)
        .optionalChild("OPFTaskCopyDueDateTime", t.dueDateTime)
        .optionalChild("OPFTaskCopyModDate", t.modDate)
        .optionalChild("OPFTaskCopyName", t.name)
        .optionalChild("OPFTaskCopyNote", t.note)
        .optionalChild("OPFTaskCopyReminderTime", t.reminderTime)
        .optionalChild("OPFTaskCopyStartDateTime", t.startDateTime)
        .child(XmlElement("OPFTaskGetPriority", std::to_string(t.priority)));
    if (t.recurrence) {
        task.child(recurrenceElement("OPFTaskCopyRecurrence", *t.recurrence));
    }
    return finish(std::move(task), t.overrides);
}

std::string noteElement(const Note& n) {
    XmlElement note("note");
    note.optionalChild("OPFNoteCopyCreationDate", n.creationDate)
        .optionalChild("OPFNoteCopyFolderRecordUID", n.folderRecordUid)
        .optionalChild("OPFNoteCopyModDate", n.modDate)
        .optionalChild("OPFNoteCopyText", n.text)
        .optionalChild("OPFNoteCopyTitle", n.title);
    return finish(std::move(note), n.overrides);
}

std::string aggregateDocument(std::string_view rootName, const std::vector<std::string>& items) {
    std::string out;
    out += '<';
    out += rootName;
    out += " xml:space=\"preserve\" elementCount=\"" + std::to_string(items.size()) + "\">";
    for (const std::string& item : items) {
        out += item;
    }
    out += "</";
    out += rootName;
    out += '>';
    return out;
}

std::string categoriesDocument(const std::vector<Category>& categories) {
    XmlElement root("categories");
    root.preserveSpace = false;
    root.attribute("elementCount", std::to_string(categories.size()));
    for (const Category& category : categories) {
        XmlElement entry("category");
        entry.attribute("OPFCategoryCopyBackgroundColor", category.color)
            .attribute("OPFCategoryCopyName", category.name);
        root.child(std::move(entry));
    }
    std::string out;
    renderXml(root, out);
    return out;
}

} // namespace parvelle::olmgen
