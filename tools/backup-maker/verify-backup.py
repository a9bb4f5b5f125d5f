#!/usr/bin/env python3
"""Reads a backup folder the way the public format notes describe it, with Python's standard library and the
cryptography package only, and prints one line per stored file: "FILE_ID SIZE SHA1 DOMAIN-PATH".

A second reader, written apart from the program's C++ one, so that backup-maker's output is checked by code that
shares nothing with the reader under test. Usage: verify-backup.py FOLDER [PASSWORD]
"""
import base64
import hashlib
import os
import plistlib
import sqlite3
import struct
import sys
import tempfile

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.keywrap import aes_key_unwrap


def class_keys(keybag, password):
    """Class number -> unwrapped key, from the keybag's TLV items."""
    attrs, classes, current = {}, {}, None
    pos = 0
    while pos + 8 <= len(keybag):
        tag = keybag[pos:pos + 4].decode('ascii')
        (length,) = struct.unpack('>I', keybag[pos + 4:pos + 8])
        value = keybag[pos + 8:pos + 8 + length]
        pos += 8 + length
        if tag in ('UUID', 'WRAP') and tag not in attrs:
            attrs[tag] = value
        elif tag == 'UUID':
            current = {}
        elif tag in ('CLAS', 'WRAP', 'WPKY', 'KTYP', 'PBKY'):
            current[tag] = value
            if tag == 'CLAS':
                classes[struct.unpack('>I', value)[0]] = current
        else:
            attrs[tag] = value
    secret = password
    if 'DPSL' in attrs and 'DPIC' in attrs:
        secret = hashlib.pbkdf2_hmac('sha256', password, attrs['DPSL'], struct.unpack('>I', attrs['DPIC'])[0], 32)
    kek = hashlib.pbkdf2_hmac('sha1', secret, attrs['SALT'], struct.unpack('>I', attrs['ITER'])[0], 32)
    return {n: aes_key_unwrap(kek, c['WPKY']) for n, c in classes.items() if struct.unpack('>I', c['WRAP'])[0] & 2}


def decrypt(key, data, iv=b'\0' * 16):
    d = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
    plain = d.update(data) + d.finalize()
    if not 1 <= plain[-1] <= 16 or plain[-plain[-1]:] != bytes([plain[-1]]) * plain[-1]:
        raise ValueError('bad padding')
    return plain[:-plain[-1]]


def mbdb_records(data):
    """(domain, path, encryption key, size) of every Manifest.mbdb record."""
    pos = 6

    def string():
        nonlocal pos
        (n,) = struct.unpack('>H', data[pos:pos + 2])
        pos += 2
        if n == 0xFFFF:
            return None
        pos += n
        return data[pos - n:pos]

    while pos < len(data):
        domain, path, _target, _digest, key = string(), string(), string(), string(), string()
        mode, _inode, _uid, _gid, _m, _c, _b, size, _cls, nprops = struct.unpack('>HQIIIIIQBB', data[pos:pos + 40])
        pos += 40
        for _ in range(2 * nprops):
            string()
        if mode & 0xF000 == 0x8000:
            yield domain.decode(), path.decode(), key, size


def db_records(path, salt_password):
    db = sqlite3.connect('file:%s?immutable=1' % path, uri=True)
    desc_key = None
    props = dict(db.execute("select key, value from Properties"))
    if 'salt' in props and salt_password is not None:
        desc_key = hashlib.sha1(salt_password + props['salt']).digest()[:16]
    for domain, rel, blob in db.execute("select domain, relativePath, file from Files where flags = 1"):
        if desc_key:
            blob = decrypt(desc_key, base64.b64decode(blob), bytes(range(16)))
        archive = plistlib.loads(blob)
        objects = archive['$objects']
        root = objects[archive['$top']['root']]
        key = None
        if 'EncryptionKey' in root:
            key = objects[root['EncryptionKey']]['NS.data']
        yield domain, rel, key, root['Size']


def main():
    folder = sys.argv[1]
    password = sys.argv[2].encode() if len(sys.argv) > 2 else None
    with open(os.path.join(folder, 'Manifest.plist'), 'rb') as f:
        manifest = plistlib.load(f)
    keys = class_keys(manifest['BackupKeyBag'], password) if manifest.get('IsEncrypted') else {}
    flat = os.path.exists(os.path.join(folder, 'Manifest.mbdb'))
    if flat:
        with open(os.path.join(folder, 'Manifest.mbdb'), 'rb') as f:
            records = list(mbdb_records(f.read()))
    else:
        with open(os.path.join(folder, 'Manifest.db'), 'rb') as f:
            db = f.read()
        if 'ManifestKey' in manifest:
            mk = manifest['ManifestKey']
            db = decrypt(aes_key_unwrap(keys[struct.unpack('<I', mk[:4])[0]], mk[4:]), db)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, 'Manifest.db')
            with open(path, 'wb') as f:
                f.write(db)
            records = list(db_records(path, password))
    for domain, rel, key, size in records:
        file_id = hashlib.sha1(('%s-%s' % (domain, rel)).encode()).hexdigest()
        with open(os.path.join(folder, file_id if flat else os.path.join(file_id[:2], file_id)), 'rb') as f:
            data = f.read()
        if key:
            data = decrypt(aes_key_unwrap(keys[struct.unpack('<I', key[:4])[0]], key[4:]), data)
        if len(data) != size:
            raise ValueError('%s: %d bytes, the record says %d' % (rel, len(data), size))
        print(file_id, len(data), hashlib.sha1(data).hexdigest(), '%s-%s' % (domain, rel))


if __name__ == '__main__':
    main()
