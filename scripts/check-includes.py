#!/usr/bin/env python3
"""Checks every #include of src/ and tools/ against the layer rules in README.md.

Headers of src/ are included by their folder from the one src/ include root ("contacts/localdb.h").
The rules are the ```layers block under "## Layout": one line per folder, naming the src/ folders its files may
include ("app: widgets fileio ..."), the outside libraries whose headers it may include ("lib: sqlite3"), and the
src/ folders a simulator or tool may use ("tools: sqlite_qt core"). Widget headers are allowed only where a
folder's line says "widgets-ok". Known wrong arrows that are still being removed are listed in
.ci/include-exceptions ("FILE -> TARGET"); any other wrong arrow fails, and so does an exception that no longer
occurs (so the list only shrinks).

Usage: scripts/check-includes.py [ROOT]    exit 0 when clean, 1 with one line per wrong include.
"""
import os
import re
import sys

# Headers of outside libraries, by the library that owns them.
OUTSIDE = [
    (re.compile(r'^sqlite3\.h$'), 'sqlite3'),
    (re.compile(r'^(libimobiledevice/|usbmuxd)'), 'imobiledevice'),
    (re.compile(r'^plist/'), 'plist'),
    (re.compile(r'^libusb'), 'usb'),
    (re.compile(r'^openssl/'), 'openssl'),
]
# Used when Qt's headers are not installed yet: the widget classes this code base is likely to name.
FALLBACK_WIDGETS = {
    'QWidget', 'QDialog', 'QMessageBox', 'QApplication', 'QMainWindow', 'QPushButton', 'QLabel', 'QLineEdit',
    'QTreeView', 'QTableView', 'QListView', 'QComboBox', 'QCheckBox', 'QMenu', 'QMenuBar', 'QAction',
    'QProgressDialog', 'QFileDialog', 'QLayout', 'QVBoxLayout', 'QHBoxLayout', 'QGridLayout', 'QStyle',
}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def read_rules(readme):
    text = open(readme, encoding='utf-8').read()
    m = re.search(r'```layers\n(.*?)```', text, re.S)
    if not m:
        sys.exit('check-includes: README.md has no ```layers block')
    folders, libs, widgets_ok = {}, {}, set()
    for line in m.group(1).splitlines():
        line = line.split('#', 1)[0].strip()
        if not line:
            continue
        name, _, rest = line.partition(':')
        words = rest.split()
        folders[name.strip()] = {w for w in words if not w.startswith(('lib=', 'widgets-ok'))}
        libs[name.strip()] = {w[4:] for w in words if w.startswith('lib=')}
        if 'widgets-ok' in words:
            widgets_ok.add(name.strip())
    return folders, libs, widgets_ok


def widget_classes():
    for base in ('/usr/include/x86_64-linux-gnu/qt6/QtWidgets', '/usr/include/qt6/QtWidgets'):
        if os.path.isdir(base):
            return {f for f in os.listdir(base) if f.startswith('Q') and '.' not in f}
    return FALLBACK_WIDGETS


def src_headers(root):
    owner = {}
    for folder in os.listdir(os.path.join(root, 'src')):
        path = os.path.join(root, 'src', folder)
        if os.path.isdir(path):
            for f in os.listdir(path):
                if f.endswith('.h'):
                    owner[f] = folder
    return owner


def check(root):
    folders, libs, widgets_ok = read_rules(os.path.join(root, 'README.md'))
    owner = src_headers(root)
    widgets = widget_classes()
    found = set()
    for top in ('src', 'tools'):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if not f.endswith(('.h', '.cpp')):
                    continue
                path = os.path.join(dirpath, f)
                rel = os.path.relpath(path, root)
                parts = rel.split(os.sep)
                layer = parts[1] if top == 'src' else 'tools'
                if layer not in folders:
                    found.add(f'{rel} -> (folder missing from the layers block)')
                    continue
                for line in open(path, encoding='utf-8', errors='replace'):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    quoted, name = m.group(1) == '"', m.group(2)
                    if quoted:
                        if top == 'src' and '/' not in name and name in owner:
                            found.add(f'{rel} -> {name} (name its folder: "{owner[name]}/{name}")')
                            continue
                        if os.path.exists(os.path.join(dirpath, name)):
                            continue  # a file beside it
                        target = name.split('/')[0] if '/' in name else owner.get(os.path.basename(name))
                        if target and target != layer and target not in folders[layer]:
                            found.add(f'{rel} -> {target}')
                        continue
                    for pattern, lib in OUTSIDE:
                        if pattern.search(name) and lib not in libs[layer]:
                            found.add(f'{rel} -> {lib}')
                    base = name.split('/')[-1]
                    if (name.startswith('QtWidgets/') or base in widgets) and layer not in widgets_ok:
                        found.add(f'{rel} -> widgets')
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
    found = check(root)
    known = set()
    exceptions = os.path.join(root, '.ci', 'include-exceptions')
    if os.path.exists(exceptions):
        for line in open(exceptions, encoding='utf-8'):
            line = line.split('#', 1)[0].strip()
            if line:
                known.add(line)
    wrong = sorted(found - known)
    gone = sorted(known - found)
    for w in wrong:
        print(f'wrong include: {w}')
    for g in gone:
        print(f'no longer happens, remove it from .ci/include-exceptions: {g}')
    return 1 if wrong or gone else 0


if __name__ == '__main__':
    sys.exit(main())
