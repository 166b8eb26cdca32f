#!/usr/bin/env python3
"""Writes the hand-written seeds of the fuzz targets into seeds/<target>/ (run it after editing).

The replies follow the examples of RFC 2229 and what a dictd sends; line ends are CR LF.
"""
import os

here = os.path.dirname(os.path.abspath(__file__))


def reply(*lines):
    return "".join(line + "\r\n" for line in lines).encode()


match_rfc = reply('152 7 matches found: list follows', 'foldoc "Fast SCSI"', 'foldoc "SCSI"', 'foldoc "SCSI-1"',
                  'foldoc "SCSI-2"', 'foldoc "SCSI-3"', 'foldoc "Ultra-SCSI"', 'foldoc "Wide SCSI"', '.',
                  '250 Command complete')
match_two = reply('152 2 matches found', 'lexitest "glimmerwort"', 'lexitest2 "glimmerwort"', '.',
                  '250 ok [d/m/c = 0/2/36; 0.000r 0.000u 0.000s]')
match_many = reply('152 3 matches found: list follows', 'wn "sun"', 'gcide "sun"', 'jargon "sun"', '.',
                   '250 Command complete')
no_match = reply('552 No match')
bad_strategy = reply('551 Invalid strategy, use "SHOW STRAT" for a list of strategies')
syntax_error = reply('501 Syntax error, illegal parameters')
bad_database = reply('550 Invalid database, use "SHOW DB" for list of databases')
databases_rfc = reply('110 3 databases present: list follows', 'wn "WordNet 1.5"',
                      'foldoc "Free On-Line Dictionary of Computing"', 'jargon "Hacker Jargon File"', '.',
                      '250 Command complete')
databases_dictd = reply('110 4 databases present', 'lexitest "Lexitray Test Dictionary"',
                        'lexitest2 "Lexitray Second Test Dictionary"', 'wn "WordNet (r) 3.0 (2006)"',
                        'gcide "The Collaborative International Dictionary of English v.0.48"', '.', '250 ok')
no_databases = reply('554 No databases present')
define_rfc = reply('150 1 definitions retrieved - definitions follow',
                   '151 "penguin" wn "WordNet 1.5" : definition text follows', 'penguin',
                   '     n : short-legged flightless birds of cold southern especially',
                   '         Antarctic regions having webbed feet and wings modified as',
                   '         flippers', '.', '250 Command complete')
define_two = reply('150 2 definitions retrieved', '151 "glimmerwort" lexitest "Lexitray Test Dictionary"',
                   'glimmerwort n. A small fern of the Lexitray test garden that shines faintly at dusk.',
                   '..dotted line kept as the server sends it', '.',
                   '151 "glimmerwort" lexitest2 "Lexitray Second Test Dictionary"',
                   'glimmerwort n. (second dictionary) An old word for the glow of fireflies.', '.',
                   '250 ok [d/m/c = 2/0/36; 0.000r 0.000u 0.000s]')
define_empty_body = reply('150 2 definitions retrieved', '151 "x" wn "WordNet"', '.', '151 "x" gcide "GCIDE"',
                          'one line', '.', '250 ok')
define_1250 = reply('150 1 definitions retrieved', '151 "year" wn "WordNet"', 'the year 1250 was long ago', '.',
                    '250 ok')
status_lines = [b'220 dict.example.org dictd 1.9 <auth.mime> <100@dict.example.org>\r\n', b'152 12 matches found\r\n',
                b'150 2147483648 definitions retrieved\r\n', b'110 -5 databases present\r\n',
                b'  150 +3 x\r\n', b'250 ok\r\n', b'2200 x', b'110 99999999999999999999999\r\n', b'152\t7\r\n']

seeds = {
    'numbers': status_lines + [match_rfc, databases_rfc],
    'matchlist': [match_rfc, match_two, match_many, no_match,
                  reply('152 3 matches found', 'wn "a"', '.', '250 ok'),
                  reply('152 2 matches', 'x' * 100 + ' "long"', ' lead "blank"', 'wn "b"', '.', '250 ok')],
    'databaselist': [databases_rfc, databases_dictd, no_databases,
                     b'110 2 databases present\r\nwn "WordNet"\r\ngcide "GCIDE"\n.\n'],
    'definitions': [define_rfc, define_two, define_empty_body, define_1250, bad_database,
                    b'150 1 definitions retrieved\r\n151 "x" wn "WordNet"\r\nno terminator'],
}

# chunked: an options byte (bit 0 definition markers, bits 1-2 the reply cap, bits 3-4 the
# list limit), the piece-size header (count byte, then sizes), then the reply.
chunk_headers = [bytes([0, 0, 0]), bytes([0, 1, 5, 4]), bytes([1, 0, 1]), bytes([1, 2, 3, 250, 7]),
                 bytes([2, 0, 3]), bytes([8, 1, 2, 9])]
chunk_replies = [match_rfc, match_two, define_rfc, define_two, no_match, databases_rfc, define_1250]
seeds['chunked'] = [chunk_headers[i % len(chunk_headers)] + r for i, r in enumerate(chunk_replies)]

# exchanges: an options byte (bits 0-1 greeting, 2 no database connection, 3 definitions host
# unresolvable, 4 no definitions connection, 5-7 cap and list limit), the piece-size header,
# then the match, database and definitions replies separated by 0x1E.
sep = b'\x1e'
seeds['exchanges'] = [
    bytes([0, 0, 0]) + match_two + sep + databases_dictd + sep + define_two,
    bytes([0, 1, 5, 4]) + match_rfc + sep + databases_rfc + sep + define_rfc,
    bytes([1, 0, 2]) + match_many + sep + no_databases + sep + bad_database,
    bytes([4, 0, 0]) + match_two + sep + databases_dictd + sep + define_two,
    bytes([8, 0, 0]) + match_two + sep + databases_dictd + sep + define_two,
    bytes([0, 2, 9, 1, 3]) + no_match + sep + sep,
    bytes([0x40, 0, 7]) + match_rfc + sep + databases_rfc + sep + define_empty_body,
]

# greeting: the piece-size header, then what the server greets with.
seeds['greeting'] = [bytes([0, 0]) + b'220 dict.example.org dictd 1.9 <auth.mime> <100@dict.example.org>\r\n',
                     bytes([1, 2, 3]) + b'220 pan.alephnull.com dictd 1.12 <auth.mime> <1@pan>\r\n',
                     bytes([0, 1]) + b'  220 x\r\n', bytes([0, 0]) + b'2200 x\r\n', bytes([0, 0]) + b'220',
                     bytes([0, 0]) + b'530 Access denied\r\n', bytes([0, 5]) + b'220 a\x00b\r\n',
                     bytes([0, 0]) + b'420 Server temporarily unavailable\r\n']

# pipelined: a byte whose bit 0 says the rest of an earlier line comes first, the piece-size
# header, then match replies one after the other as a server answers requests sent together.
seeds['pipelined'] = [bytes([0, 0, 0]) + no_match + match_two + no_match,
                      bytes([1, 1, 3, 4]) + b'match\r\n' + match_many + bad_strategy + match_rfc,
                      bytes([0, 2, 1, 5, 2]) + match_rfc + b'152 1\n..\n.\n250 ok\n' + syntax_error,
                      bytes([0, 0, 0]) + reply('152 3 found', 'wn "Boxed"', 'gcide "boxed"', 'wn "lone', '.',
                                               '250 ok')]

# pagetext: a flag byte (bit 0: line ends as one unit), then a definition body with braces.
seeds['pagetext'] = [b'\x00hack\r\n  n 1: a {programmer} [syn: {hack}, {hacker}]\r\n',
                     b'\x01See {computer\r\n     science} and {C12H25OH}.\n',
                     b'\x00{a {b} c} {} { } } {' + b'x' * 300 + b'} {end']

# history: the kept words' file as written, an edited one and a foreign one.
history_head = b'Lexitray kept words 1\n'
seeds['history'] = [history_head + b'glimmerwort\tlexitest\tonline\tLexitray Test Dictionary\n'
                    b'caf\xc3\xa9\tfd-fra-eng\toffline\tFrench-English\n',
                    b'\xef\xbb\xbf' + history_head.replace(b'\n', b'\r\n') + b'hack\twn\tonline\t\r\n\r\n',
                    b'[Recent]\nhack=wn\n']

for target, inputs in seeds.items():
    folder = os.path.join(here, 'seeds', target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.startswith('rfc-'):
            os.remove(os.path.join(folder, old))
    for i, data in enumerate(inputs):
        with open(os.path.join(folder, 'rfc-%02d' % i), 'wb') as f:
            f.write(data)
