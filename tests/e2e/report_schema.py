"""A small checker of CleanLum's JSON report (schema 1), as README.md
documents it: check(report) returns one line per problem."""

KINDS = {'board', 'service', 'process', 'folder', 'file', 'registry key', 'registry value', 'installer product'}
STATUSES = {'present', 'removed', 'remaining', 'pending restart', 'unreadable'}
ITEM_FIELDS = {'kind', 'step', 'path', 'value', 'package', 'files', 'bytes', 'commands', 'status', 'error', 'reason', 'profile',
               'kept'}
SUMMARY = ('items', 'present', 'removed', 'remaining', 'pendingRestart', 'unreadable')


def check(report):
    problems = []

    def need(obj, field, kind, where=''):
        if field not in obj:
            problems.append(where + field + ': missing')
            return False
        if not isinstance(obj[field], kind) or (kind is int and isinstance(obj[field], bool)):
            problems.append(where + field + ': wrong type')
            return False
        return True

    if not isinstance(report, dict):
        return ['not an object']
    if need(report, 'schema', int) and report['schema'] != 1:
        problems.append('schema: not 1')
    for field in ('program', 'version', 'mode', 'machine', 'started', 'ended'):
        need(report, field, str)
    if report.get('mode') not in ('preview', 'result'):
        problems.append('mode: unknown')
    if need(report, 'commands', list):
        problems += ['commands: not a string' for c in report['commands'] if not isinstance(c, str)]
    if 'logonCommand' not in report:
        problems.append('logonCommand: missing')
    elif report['logonCommand'] is not None:
        need(report['logonCommand'], 'key', str, 'logonCommand.')
        need(report['logonCommand'], 'data', str, 'logonCommand.')
    if need(report, 'items', list):
        for item in report['items']:
            where = 'items[%s].' % item.get('path', '?')
            if need(item, 'kind', str, where) and item['kind'] not in KINDS:
                problems.append(where + 'kind: unknown')
            need(item, 'step', str, where)
            need(item, 'path', str, where)
            if need(item, 'status', str, where) and item['status'] not in STATUSES:
                problems.append(where + 'status: unknown')
            if item.get('kind') == 'folder' and 'kept' not in item:
                need(item, 'files', int, where)
                need(item, 'bytes', int, where)
            if item.get('kind') == 'board':
                need(item, 'commands', list, where)
            if item.get('status') == 'unreadable':
                need(item, 'error', int, where)
            if 'profile' in item and need(item, 'profile', dict, where):
                need(item['profile'], 'sid', str, where + 'profile.')
                if not isinstance(item['profile'].get('folder', 0), (str, type(None))):
                    problems.append(where + 'profile.folder: not a text or null')
                if item['profile'].get('hive') not in ('user', 'classes'):
                    problems.append(where + 'profile.hive: unknown')
            problems += [where + field + ': not in the schema' for field in item if field not in ITEM_FIELDS]
    if need(report, 'summary', dict):
        summary = report['summary']
        if all(need(summary, field, int, 'summary.') for field in SUMMARY):
            if summary['items'] != len(report.get('items', [])):
                problems.append('summary.items: not the number of items')
            if sum(summary[field] for field in SUMMARY[1:]) != summary['items']:
                problems.append('summary: counts do not add up')

    def null_or(obj, field, kind, where):
        if field not in obj:
            problems.append(where + field + ': missing')
        elif obj[field] is not None and not isinstance(obj[field], kind):
            problems.append(where + field + ': wrong type')

    if 'reportFolder' in report:
        need(report['reportFolder'], 'path', str, 'reportFolder.')
        null_or(report['reportFolder'], 'private', bool, 'reportFolder.')
        null_or(report['reportFolder'], 'concern', str, 'reportFolder.')
    if 'backup' in report:
        null_or(report['backup'], 'sha256', str, 'backup.')
        digest = report['backup'].get('sha256')
        if isinstance(digest, str) and (len(digest) != 64 or digest.strip('0123456789abcdef')):
            problems.append('backup.sha256: not 64 hexadecimal digits')
    return problems
