#!/usr/bin/env node
// Prints what pst-extractor reads from a PST file as JSON: the folder tree with each folder's
// items, their recipients and attachments (content as length and SHA-256), embedded messages
// included. Used by the round-trip tests as an independent reader.
'use strict';
const crypto = require('crypto');
const { PSTFile } = require('pst-extractor');

function attachmentContent(att) {
  const stream = att.fileInputStream;
  if (!stream) return { length: 0, sha256: crypto.createHash('sha256').digest('hex') };
  const length = stream.length.toNumber();
  const buffer = Buffer.alloc(length);
  if (length > 0) stream.readCompletely(buffer);
  return { length, sha256: crypto.createHash('sha256').update(buffer).digest('hex') };
}

function dumpMessage(msg) {
  const item = {
    messageClass: msg.messageClass,
    subject: msg.subject,
    body: msg.body,
    bodyHTML: msg.bodyHTML,
    senderName: msg.senderName,
    senderEmail: msg.senderEmailAddress,
    displayTo: msg.displayTo,
    displayCC: msg.displayCC,
    messageSize: msg.messageSize.toNumber(),
    recipients: [],
    attachments: [],
  };
  for (let i = 0; i < msg.numberOfRecipients; i++) {
    const r = msg.getRecipient(i);
    if (r) item.recipients.push({ name: r.displayName, email: r.emailAddress, type: r.recipientType });
  }
  for (let i = 0; i < msg.numberOfAttachments; i++) {
    const a = msg.getAttachment(i);
    const entry = { filename: a.filename, longFilename: a.longFilename, displayName: a.displayName,
                    method: a.attachMethod, size: a.size };
    if (a.attachMethod === 5) {
      const inner = a.embeddedPSTMessage;
      entry.embedded = inner ? dumpMessage(inner) : null;
    } else {
      Object.assign(entry, attachmentContent(a));
    }
    item.attachments.push(entry);
  }
  return item;
}

function dumpFolder(folder, path, out) {
  const entry = { path, name: folder.displayName, containerClass: folder.containerClass,
                  contentCount: folder.contentCount, items: [] };
  out.push(entry);
  if (folder.contentCount > 0) {
    let child = folder.getNextChild();
    while (child) {
      entry.items.push(dumpMessage(child));
      child = folder.getNextChild();
    }
  }
  if (folder.hasSubfolders) {
    for (const sub of folder.getSubFolders())
      dumpFolder(sub, path === '' ? sub.displayName : path + '/' + sub.displayName, out);
  }
}

const file = new PSTFile(process.argv[2]);
const folders = [];
dumpFolder(file.getRootFolder(), '', folders);
process.stdout.write(JSON.stringify({ store: file.getMessageStore().displayName, folders }, null, 1));
