// Python scripts that write a Finder preference file full of settings and compare two such
// files value by value and type by type, as an independent reader (plistlib) sees them.
#pragma once

namespace quaymark {

// Writes a Finder preference file with many kinds of settings: argv path, "binary" or "xml",
// "plists" when the toolbar configuration holds "TB Item Plists".
inline constexpr const char* kWriteFinderPreferences = R"(
import plistlib, sys, datetime
path, form, kind = sys.argv[1:4]
binary = form == 'binary'
toolbar = {
    'TB Default Item Identifiers': ['com.apple.finder.BACK', 'com.apple.finder.SRCH'],
    'TB Item Identifiers': ['com.apple.finder.BACK', 'com.apple.finder.loc ',
                            'NSToolbarFlexibleSpaceItem', 'com.apple.finder.SRCH'],
    'TB Display Mode': 2, 'TB Icon Size Mode': 1, 'TB Is Shown': 1, 'TB Size Mode': 1.0,
}
if kind == 'plists':
    toolbar['TB Item Plists'] = {'1': {'_CFURLString': 'file:///Users/me/Projects/',
                                       '_CFURLStringType': 15, '_CFURLAliasData': b'\x00al\xff'},
                                 'x': 'not an item'}
values = {
    'NSToolbar Configuration Browser': toolbar,
    'NSWindow Frame Browser': '{{100, 200}, {900, 600}}',
    'FK_StandardViewSettings': {'IconViewSettings': {'iconSize': 64.0, 'showItemInfo': False,
                                                     'gridSpacing': 54}},
    'FXRecentFolders': [{'name': 'Projects', 'file-bookmark': bytes(range(256))}],
    'LastTrashEmpty': datetime.datetime(2020, 5, 6, 7, 8, 9, 500000 if binary else 0),
    'ShowHardDrivesOnDesktop': True, 'SidebarWidth': 143.25, 'Big': 2**62, 'Negative': -17,
    'Empty': {}, 'Nothing': [], 'Text': 'caf\u00e9 \U0001F680 <&>',
}
with open(path, 'wb') as f:
    plistlib.dump(values, f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)
)";

// Compares two preference files value by value and type by type; argv before, after, form,
// what the toolbar may differ in: "same", "empty-plists" or "button".
inline constexpr const char* kCompare = R"(
import plistlib, sys
before_path, after_path, form, allowed = sys.argv[1:5]
raw = open(after_path, 'rb').read()
if raw.startswith(b'bplist00') != (form == 'binary'):
    sys.exit('the file is no longer ' + form)
before = plistlib.loads(open(before_path, 'rb').read())
after = plistlib.loads(raw)
def same(a, b, where):
    if type(a) is not type(b):
        sys.exit('%s: %r became %r' % (where, a, b))
    if isinstance(a, dict):
        if set(a) != set(b):
            sys.exit('%s: keys %s became %s' % (where, sorted(a), sorted(b)))
        for key in a:
            same(a[key], b[key], where + '/' + key)
    elif isinstance(a, list):
        if len(a) != len(b):
            sys.exit('%s: %r became %r' % (where, a, b))
        for i, (x, y) in enumerate(zip(a, b)):
            same(x, y, '%s[%d]' % (where, i))
    elif a != b:
        sys.exit('%s: %r became %r' % (where, a, b))
toolbar_before = before['NSToolbar Configuration Browser']
toolbar_after = after['NSToolbar Configuration Browser']
if allowed == 'empty-plists' and 'TB Item Plists' not in toolbar_before:
    toolbar_before['TB Item Plists'] = {}
if allowed == 'button':
    plists = toolbar_after.pop('TB Item Plists')
    ids = toolbar_after['TB Item Identifiers']
    button = plists.pop('2')
    if not button['_CFURLString'].endswith('QuaymarkHelper.app/') or ids.pop(2) != 'com.apple.finder.loc ':
        sys.exit('no button at 2: %r %r' % (button, ids))
    old = toolbar_before.pop('TB Item Plists', {})
    same(old, plists, 'TB Item Plists')
same(before, after, '')
print('same')
)";

}  // namespace quaymark
