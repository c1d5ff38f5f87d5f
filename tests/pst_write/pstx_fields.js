#!/usr/bin/env node
// Prints the typed fields pst-extractor reads from the contacts, appointments, tasks, notes and
// distribution lists of a PST file, one line each: folder path, subject, field and value,
// tab-separated, path and value percent-encoded, dates in ISO 8601 UTC. Run with NODE_PATH set to
// the oracles' node_modules (tools/oracles); the PST round-trip tests compare the lines with what
// they wrote.
'use strict';
const { PSTFile } = require('pst-extractor');
const { OutlookProperties } = require('pst-extractor/dist/OutlookProperties');

// Getters per message class prefix (pst-extractor's names; its companyName reads the wrong tag).
const fields = {
  'IPM.Contact': ['givenName', 'surname', 'email1EmailAddress', 'email1DisplayName',
                  'email1AddressType', 'fileUnder', 'businessTelephoneNumber',
                  'mobileTelephoneNumber', 'birthday'],
  'IPM.Appointment': ['location', 'startTime', 'endTime', 'duration', 'busyStatus',
                      'reminderSet', 'reminderDelta'],
  'IPM.Task': ['taskStatus', 'percentComplete', 'isTaskComplete'],
  'IPM.StickyNote': ['body'],
};

function text(v) {
  if (v === null || v === undefined) return '';
  if (v instanceof Date) return isNaN(v.getTime()) ? '' : v.toISOString().replace('.000Z', 'Z');
  if (typeof v === 'object' && typeof v.toNumber === 'function') return String(v.toNumber());
  return String(v);
}

// The values of a multi-valued binary property (count, offsets, then the values).
function multiBinary(msg, id) {
  const item = msg.pstTableItems && msg.pstTableItems.get(id);
  if (!item) return [];
  let data = item.data;
  if (item.isExternalValueReference && msg.localDescriptorItems &&
      msg.localDescriptorItems.has(item.entryValueReference))
    data = msg.localDescriptorItems.get(item.entryValueReference).getData();
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

// "Name <address>" of a Unicode one-off entry id (flags, then zero-terminated UTF-16 strings).
function oneOff(entry) {
  const strings = entry.subarray(24).toString('utf16le').split('\u0000');
  return strings[0] + ' <' + strings[2] + '>';
}

function dumpItem(msg, path, out) {
  const cls = msg.messageClass || '';
  const emit = (name, value) =>
    out.push([encodeURIComponent(path), encodeURIComponent(msg.subject), name,
              encodeURIComponent(text(value))].join('\t'));
  for (const [prefix, names] of Object.entries(fields))
    if (cls.startsWith(prefix))
      for (const name of names) emit(name, msg[name]);
  if (cls.startsWith('IPM.DistList')) {
    const id = msg.pstFile.getNameToIdMapItem(0x8055, OutlookProperties.PSETID_Address);
    multiBinary(msg, id).forEach((m, i) => emit('member' + i, oneOff(m)));
  }
}

function dumpFolder(folder, path, out) {
  if (folder.contentCount > 0) {
    for (let child = folder.getNextChild(); child; child = folder.getNextChild())
      dumpItem(child, path, out);
  }
  if (folder.hasSubfolders)
    for (const sub of folder.getSubFolders())
      dumpFolder(sub, path === '' ? sub.displayName : path + '/' + sub.displayName, out);
}

const out = [];
dumpFolder(new PSTFile(process.argv[2]).getRootFolder(), '', out);
process.stdout.write(out.join('\n') + '\n');
