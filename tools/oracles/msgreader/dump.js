#!/usr/bin/env node
// Test oracle: reads an MSG file with @kenjiuno/msgreader and prints the JSON summary the MSG
// tests compare (class, subject, sender, bodies, recipients, attachments, named properties).
'use strict';
const fs = require('fs');
const crypto = require('crypto');
const MsgReader = require('@kenjiuno/msgreader').default;

// msgreader spells the two built-in property sets with malformed groups; map them back.
const KNOWN_SETS = {
  '00020328-00000-0000-c000-00000000046': '00020328-0000-0000-c000-000000000046',
  '00020329-00000-0000-c000-00000000046': '00020329-0000-0000-c000-000000000046',
};

function namedKey(p) {
  if (p.propertyName !== undefined) return '*/' + p.propertyName;
  let set = (p.propertySet || '').toLowerCase();
  set = KNOWN_SETS[set] || set;
  return set + '/' + parseInt(p.propertyLid, 16).toString(16).padStart(8, '0');
}

function namedValue(p) {
  const type = p.propertyTag.slice(4).toLowerCase();
  const v = p.value;
  if (v instanceof Uint8Array) return Buffer.from(v).toString('hex');
  if (type === '0040' && typeof v === 'string') return Math.floor(Date.parse(v) / 1000);
  if (type === '0003' && typeof v === 'number') return v | 0;
  return v;
}

function summarize(reader, fields) {
  const out = {
    messageClass: fields.messageClass,
    subject: fields.subject,
    senderName: fields.senderName,
    senderEmail: fields.senderSmtpAddress || fields.senderEmail,
    body: fields.body,
    html: fields.html ? Buffer.from(fields.html).toString('utf8') : fields.bodyHtml,
    recipients: (fields.recipients || []).map((r) => ({
      name: r.name,
      email: r.smtpAddress || r.email,
      kind: r.recipType || 'to',
    })),
    attachments: [],
    named: {},
  };
  for (const p of fields.rawProps || []) {
    if (!p.propertyTag || parseInt(p.propertyTag.slice(0, 4), 16) < 0x8000) continue;
    if (p.propertySet === undefined && p.propertyName === undefined) continue;
    out.named[namedKey(p)] = namedValue(p);
  }
  for (const a of fields.attachments || []) {
    if (a.innerMsgContent) {
      out.attachments.push({
        name: a.name, size: null, sha256: null,
        embedded: summarize(reader, a.innerMsgContentFields),
      });
      continue;
    }
    const data = reader.getAttachment(a).content;
    out.attachments.push({
      name: a.fileName || a.name,
      size: data.length,
      sha256: crypto.createHash('sha256').update(data).digest('hex'),
      embedded: null,
    });
  }
  return out;
}

const bytes = fs.readFileSync(process.argv[2]);
const reader = new MsgReader(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
reader.parserConfig = { includeRawProps: true };
const fields = reader.getFileData();
if (fields.error) {
  process.stderr.write('msgreader: ' + fields.error + '\n');
  process.exit(1);
}
process.stdout.write(JSON.stringify(summarize(reader, fields), null, 1) + '\n');
