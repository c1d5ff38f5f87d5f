#!/usr/bin/env node
// Prints the contact, appointment, task, note and distribution-list fields pst-extractor reads
// from a PST file, one line per field: "I<TAB>folder path" starts an item, then
// "F<TAB>field<TAB>value" with the value percent-encoded (dates as ISO 8601 UTC). Used by the
// item-kind tests as an independent reader.
'use strict';
const { PSTFile } = require('pst-extractor');
const { RecurrencePattern } = require('pst-extractor/dist/RecurrencePattern.class');

const contactFields = [
  'givenName', 'surname', 'middleName', 'nickname', 'displayNamePrefix', 'generation',
  'companyName', 'title', 'departmentName', 'email1EmailAddress', 'email1AddressType',
  'email1DisplayName', 'email2EmailAddress', 'email3EmailAddress', 'instantMessagingAddress',
  'businessTelephoneNumber', 'business2TelephoneNumber', 'homeTelephoneNumber',
  'home2TelephoneNumber', 'mobileTelephoneNumber', 'businessFaxNumber', 'homeFaxNumber',
  'primaryFaxNumber', 'otherTelephoneNumber', 'pagerTelephoneNumber', 'primaryTelephoneNumber',
  'radioTelephoneNumber', 'assistantTelephoneNumber', 'workAddressStreet', 'workAddressCity',
  'workAddressState', 'workAddressPostalCode', 'workAddressCountry', 'homeAddressStreet',
  'homeAddressCity', 'homeAddressStateOrProvince', 'homeAddressPostalCode', 'homeAddressCountry',
  'otherAddressStreet', 'otherAddressCity', 'otherAddressStateOrProvince',
  'otherAddressPostalCode', 'otherAddressCountry', 'businessHomePage', 'html', 'hobbies',
  'spouseName', 'childrensNames', 'birthday', 'anniversary', 'fileUnder',
  'businessAddressCity', 'businessAddressStreet', 'businessPostalCode',
  'businessAddressStateOrProvince',
];
const appointmentFields = [
  'location', 'startTime', 'endTime', 'duration', 'busyStatus', 'subType', 'sensitivity',
  'isRecurring',
  'recurrenceType', 'recurrencePattern', 'allAttendees', 'toAttendees', 'reminderSet',
  'reminderDelta', 'senderEmailAddress', 'sentRepresentingEmailAddress',
];
const taskFields = [
  'taskStartDate', 'taskDueDate', 'taskDateCompleted', 'taskStatus', 'percentComplete',
  'isTaskComplete', 'isTaskRecurring', 'importance', 'reminderSet',
];

function text(v) {
  if (v === null || v === undefined) return '';
  if (v instanceof Date) return isNaN(v.getTime()) ? '' : v.toISOString();
  if (typeof v === 'object' && typeof v.toNumber === 'function') return String(v.toNumber());
  return String(v);
}

function field(out, name, value) {
  out.push('F\t' + name + '\t' + encodeURIComponent(text(value)));
}

// The stored bytes of a property, also when they live in a subnode; null when absent.
function rawValue(msg, id) {
  const item = msg.pstTableItems && msg.pstTableItems.get(id);
  if (!item) return null;
  let data = item.data;
  if (item.isExternalValueReference && msg.localDescriptorItems &&
      msg.localDescriptorItems.has(item.entryValueReference))
    data = msg.localDescriptorItems.get(item.entryValueReference).getData();
  return data || null;
}

// The entry ids of a multi-valued binary property (count, offsets, then the values).
function multiBinary(msg, id) {
  const data = rawValue(msg, id);
  if (!data || data.length < 4) return [];
  const count = data.readUInt32LE(0);
  const values = [];
  for (let i = 0; i < count; i++) {
    const start = data.readUInt32LE(4 + 4 * i);
    const end = i + 1 < count ? data.readUInt32LE(8 + 4 * i) : data.length;
    values.push(data.subarray(start, end));
  }
  return values;
}

// The one-off entry ids of a member stream (PidLidDistributionListStream): a 28-byte header
// with the member count at offset 12, then per member a sized entry id, a sized one-off entry
// id and a sized extra block. Throws when a size runs past the end.
function streamMembers(data) {
  const count = data.readUInt32LE(12);
  let at = 28;
  const sized = () => {
    const size = data.readUInt32LE(at);
    if (at + 4 + size > data.length) throw new Error('member stream size past its end');
    const value = data.subarray(at + 4, at + 4 + size);
    at += 4 + size;
    return value;
  };
  const members = [];
  for (let i = 0; i < count; i++) {
    sized();
    members.push(sized());
    sized();
  }
  return members;
}

// Display name and address of a one-off entry id (Unicode strings).
function oneOff(entry) {
  const strings = entry.subarray(24).toString('utf16le').split('\u0000');
  return { name: strings[0], type: strings[1], address: strings[2] };
}

function dumpItem(msg, out) {
  const cls = msg.messageClass || '';
  field(out, 'messageClass', cls);
  field(out, 'subject', msg.subject);
  field(out, 'body', msg.body);
  if (cls.startsWith('IPM.Contact')) {
    for (const f of contactFields) field(out, f, msg[f]);
  } else if (cls.startsWith('IPM.Appointment')) {
    for (const f of appointmentFields) field(out, f, msg[f]);
    const blob = msg.recurrenceStructure;
    if (blob && blob.length > 0) {
      const p = new RecurrencePattern(blob);
      field(out, 'recurFrequency', p.recurFrequency);
      field(out, 'patternType', p.patternType);
      field(out, 'period', p.period);
      field(out, 'patternTypeSpecific', JSON.stringify(p.patternTypeSpecific));
      field(out, 'endType', p.endType);
      field(out, 'occurrenceCount', p.occurrenceCount);
      field(out, 'recurStartDate', p.startDate);
      field(out, 'recurEndDate', p.endDate);
    }
    for (let i = 0; i < msg.numberOfRecipients; i++) {
      const r = msg.getRecipient(i);
      field(out, 'recipient' + i, r.recipientType + ' ' + r.emailAddress);
    }
  } else if (cls.startsWith('IPM.Task')) {
    for (const f of taskFields) field(out, f, msg[f]);
  } else if (cls.startsWith('IPM.DistList')) {
    // Members from the stream when there is one, as Outlook reads them; the list property
    // then holds only the leading members, counted in "listed".
    const id = msg.pstFile.getNameToIdMapItem(0x8055, 2);
    const listed = id === -1 ? [] : multiBinary(msg, id);
    const streamId = msg.pstFile.getNameToIdMapItem(0x8064, 2);
    const stream = streamId === -1 ? null : rawValue(msg, streamId);
    const members = stream ? streamMembers(stream) : listed;
    if (stream) field(out, 'listed', listed.length);
    members.forEach((m, i) => {
      const o = oneOff(m);
      field(out, 'member' + i, o.name + ' <' + o.address + '>');
    });
  }
}

function dumpFolder(folder, path, out) {
  if (folder.contentCount > 0) {
    let child = folder.getNextChild();
    while (child) {
      out.push('I\t' + path);
      dumpItem(child, out);
      child = folder.getNextChild();
    }
  }
  if (folder.hasSubfolders)
    for (const sub of folder.getSubFolders())
      dumpFolder(sub, path === '' ? sub.displayName : path + '/' + sub.displayName, out);
}

const out = [];
dumpFolder(new PSTFile(process.argv[2]).getRootFolder(), '', out);
process.stdout.write(out.join('\n') + '\n');
