"""Writes a Finder preference file full of settings, and compares two such files value by
value and type by type as an independent reader (plistlib) sees them.

  finder_preferences.py write PATH binary|xml plists|none ordinary|hard
  finder_preferences.py compare BEFORE AFTER binary|xml same|empty-plists|button

"plists": the toolbar configuration holds "TB Item Plists". "hard": the file also holds the
values a property-list reader most easily gets wrong, each one the format can hold.
"""
import datetime
import plistlib
import sys


def hard_values(binary):
    deep = 'bottom'
    for _ in range(512):
        deep = [deep]
    values = {
        'FarFuture': datetime.datetime(4001, 1, 1, 0, 0, 0, 250000 if binary else 0),
        'LongAgo': datetime.datetime(1900, 1, 1, 0, 0, 0, 500000 if binary else 0),
        'Smallest': -2**63, 'Largest': 2**64 - 1, 'Infinity': float('inf'),
        'BigData': bytes(i * 7 % 256 for i in range(1024 * 1024)),
        'Deep': deep,
    }
    if binary:
        # XML can hold neither a UID nor U+0000.
        values['Archive'] = {'$archiver': 'NSKeyedArchiver', '$version': 100000,
                             '$top': {'root': plistlib.UID(1)}, '$objects': ['$null', 'x']}
        values['WithNul'] = 'before\x00after'
    return values


def write(path, form, kind, values_kind):
    binary = form == 'binary'
    toolbar = {
        'TB Default Item Identifiers': ['com.apple.finder.BACK', 'com.apple.finder.SRCH'],
        'TB Item Identifiers': ['com.apple.finder.BACK', 'com.apple.finder.loc ',
                                'NSToolbarFlexibleSpaceItem', 'com.apple.finder.SRCH'],
        'TB Display Mode': 2, 'TB Icon Size Mode': 1, 'TB Is Shown': 1, 'TB Size Mode': 1.0,
    }
    if kind == 'plists':
        toolbar['TB Item Plists'] = {
            '1': {'_CFURLString': 'file:///Users/me/Projects/', '_CFURLStringType': 15,
                  '_CFURLAliasData': b'\x00al\xff'},
            'x': 'not an item'}
    values = {
        'NSToolbar Configuration Browser': toolbar,
        'NSWindow Frame Browser': '{{100, 200}, {900, 600}}',
        'FK_StandardViewSettings': {'IconViewSettings': {'iconSize': 64.0,
                                                         'showItemInfo': False}},
        'FXRecentFolders': [{'name': 'Projects', 'file-bookmark': bytes(range(256))}],
        'LastTrashEmpty': datetime.datetime(2020, 5, 6, 7, 8, 9, 500000 if binary else 0),
        'ShowHardDrivesOnDesktop': True, 'SidebarWidth': 143.25, 'Big': 2**62,
        'Negative': -17, 'Empty': {}, 'Nothing': [], 'Text': 'caf\u00e9 \U0001F680 <&>',
    }
    if values_kind == 'hard':
        values.update(hard_values(binary))
    with open(path, 'wb') as f:
        plistlib.dump(values, f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)


def same(a, b, where):
    if type(a) is not type(b):
        sys.exit('%s: %r became %r' % (where, a, b))
    if isinstance(a, dict):
        if list(a) != list(b):
            sys.exit('%s: keys %s became %s' % (where, list(a), list(b)))
        for key in a:
            same(a[key], b[key], where + '/' + key)
    elif isinstance(a, list):
        if len(a) != len(b):
            sys.exit('%s: %d items became %d' % (where, len(a), len(b)))
        for i, (x, y) in enumerate(zip(a, b)):
            same(x, y, '%s[%d]' % (where, i))
    elif a != b:
        sys.exit('%s: %r became %r' % (where, a, b))


def compare(before_path, after_path, form, allowed):
    raw = open(after_path, 'rb').read()
    if raw.startswith(b'bplist00') != (form == 'binary'):
        sys.exit('the file is no longer ' + form)
    before = plistlib.loads(open(before_path, 'rb').read())
    after = plistlib.loads(raw)
    toolbar_before = before['NSToolbar Configuration Browser']
    toolbar_after = after['NSToolbar Configuration Browser']
    if allowed == 'empty-plists' and 'TB Item Plists' not in toolbar_before:
        toolbar_before['TB Item Plists'] = {}
    if allowed == 'button':
        plists = toolbar_after.pop('TB Item Plists')
        ids = toolbar_after['TB Item Identifiers']
        button = plists.pop('2')
        if (not button['_CFURLString'].endswith('QuaymarkHelper.app/')
                or ids.pop(2) != 'com.apple.finder.loc '):
            sys.exit('no button at 2: %r %r' % (button, ids))
        same(toolbar_before.pop('TB Item Plists', {}), plists, 'TB Item Plists')
    same(before, after, '')
    print('same')


if __name__ == '__main__':
    sys.setrecursionlimit(10000)
    {'write': write, 'compare': compare}[sys.argv[1]](*sys.argv[2:])
