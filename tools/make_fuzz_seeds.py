#!/usr/bin/env python3
"""Writes the seed corpora of the configuration, entry-name, list and journal
harnesses (fuzz/corpus/config, paths, list, journal). Run again after changing
a seed."""
import hashlib
import os
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fuzz', 'corpus')


def record_cipher(data, phrase=b'Tarnel'):
    # RC4 with the Base provider's 40-bit key: five digest bytes, eleven zero bytes.
    key = hashlib.md5(phrase).digest()[:5] + bytes(11)
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for b in data:
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(out)


def gbk(text):
    return text.encode('gbk')


record = ('{"softname":"示例软件","softversion":"1.2.0","urlremote":"http://127.0.0.1:8080/app.zip",'
          '"urlfull":"http://127.0.0.1:8080/full.exe","framework":"4.0","mainfile":"demo.exe",'
          '"installtype":"net","companyname":"示例公司","companyurl":"http://127.0.0.1/",'
          '"protocol":"http://127.0.0.1/agreement.html"}')
configs = {
    'record': gbk(record),
    'numbers': b'{"softname":1,"softversion":2.5e3,"framework":4.8,"installtype":null,"mainfile":true}',
    'nested': b'{"softname":{"a":[1,2,{"b":null}]},"urlremote":["x"],"protocol":"\\u0041\\n"}',
    'lenient': b"{softname:'x',\"urlfull\":\"y\",,\"mainfile\":\"z\",}",
    'zero_byte': b'{"softname":"a\x00b","mainfile":"c"}',
    'array': b'[1,"softname",{"softname":"x"}]',
    'not_json': b'PK\x05\x06' + bytes(18),
    'scope_unknown': b'{"softname":"x","installtype":"disk","scope":"everyone"}',
    'scope_user': b'{"softname":"x","installtype":"net","sha256":"00","scope":"user"}',
}
paths = {
    'app_file': b'\x02' + b'uninst.exe',
    'app_folder': b'\x02' + b'data/',
    'tmp_file': b'\x04' + b'setup.tmp',
    'plain': b'\x00readme.txt',
    'climb_slash': b'\x00../../evil.txt',
    'climb_backslash': b'\x00..\\..\\evil.txt',
    'climb_inner': b'\x02a/../../b/..\\c',
    'dots_blanks': b'\x00a/.. /... /x',
    'drive': b'\x00C:\\Windows\\evil.dll',
    'drive_relative': b'\x00C:evil.dll',
    'unc': b'\x00\\\\server\\share\\evil.dll',
    'stream': b'\x02file.txt:stream',
    'device': b'\x02CON',
    'zero_byte': b'\x02a/..\x00/b',
    'gbk': b'\x02' + gbk('数据/说明.txt'),
    'gbk_trail_backslash': b'\x02' + bytes([0x81, 0x5C]) + b'..' + bytes([0x81, 0x5C]) + b'x',
    'utf8': b'\x03' + '目录/ファイル.txt'.encode('utf-8'),
    'macro_inside': b'\x00a{app}/b{tmp}/c',
    'long': b'\x02' + b'a/' * 140 + b'x.txt',
}

folder_list = ('|scope=machine\r\n|name=' + '羽毛 软件' + '\r\nC:\\P\\Foo\\uninst.exe\r\n'
               'C:\\P\\Foo\\data\\\r\nC:\\P\\Foo\\data\\a.txt\r\n'
               'C:\\Temp\\x.tmp\tid=12:34\r\n')
lists = {
    # First byte: where the rest splits into this run's list and the earlier one.
    'two_lists': bytes([60]) + gbk(folder_list) + gbk(folder_list.replace('a.txt', 'b.txt')),
    'lone_lf': b'\x05' + b'C:\\a\nC:/a/\n\n|x\r\nC:\\a\\.\\b\r\n',
    'trail_byte': b'\x03' + bytes([0x81, 0x5C]) + b'\r\nC:\\' + bytes([0x81, 0x5C, 0x5C]) + b'\r\n',
}
journals = {
    'upgrade': ('F\tC:\\P\\Foo\nN\tC:\\P\\Foo\\a.txt\nB\tC:\\P\\Foo\\b.txt\t'
                'C:\\P\\Foo\\~setup-run\\0\nN\tC:\\P\\Foo\\b.txt\n').encode('utf-8'),
    'committed': b'N\tC:\\a\nB\tC:\\b\tC:\\r\\0\nC\n',
    'torn': b'N\tC:\\a\nB\tC:\\b',
    'forged': b'B\tC:\\P\\..\\..\\Windows\\system32\\x.dll\tC:\\P\\~setup-run\\0\nC\tx\n\xed\xa0\x80\n',
}

for name, seeds in (('config', configs), ('paths', paths), ('list', lists), ('journal', journals)):
    folder = os.path.join(root, name)
    os.makedirs(folder, exist_ok=True)
    for seed, data in seeds.items():
        if name == 'config':
            # Mode 0: the plain record; mode 1: the record as the resource stores it.
            with open(os.path.join(folder, seed), 'wb') as f:
                f.write(b'\x00' + data)
            with open(os.path.join(folder, seed + '.encrypted'), 'wb') as f:
                f.write(b'\x01' + record_cipher(data.split(b'\x00')[0]))
        else:
            with open(os.path.join(folder, seed), 'wb') as f:
                f.write(data)
print('seeds written to', os.path.normpath(root), file=sys.stderr)
