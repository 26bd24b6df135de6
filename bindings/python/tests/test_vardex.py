import os
import subprocess
import sys
import threading

import pytest

import vardex


def test_a_session_verifies_logins_changes_a_password_and_checks_rights(store):
    with vardex.Session(store) as session:
        assert session.connected
        assert vardex.check_user_login("clerk", "") == vardex.LOGIN_OK
        assert vardex.change_user_password("clerk", "", "s3cret'\\") == 0
        assert vardex.check_user_login("clerk", "s3cret'\\") == vardex.LOGIN_OK
        assert vardex.check_user_login("clerk", "") == vardex.LOGIN_WRONG_PASSWORD
        assert vardex.check_user_login("nobody", "x") == vardex.LOGIN_NO_USER
        assert vardex.check_user_right("clerk", 7) == vardex.RIGHT_HELD
        assert vardex.query_rights("clerk", [7, 8, 7]) == [0, 3, 0]
        assert vardex.query_rights("nobody", [7]) == [1] and vardex.query_rights("clerk", []) == []
        assert vardex.last_error() == ""
    assert not session.connected
    # The session is closed: a call that needs one raises with the library's message.
    with pytest.raises(vardex.VardexError) as failure:
        vardex.check_user_right("clerk", 7)
    assert failure.value.call == "CheckUserRight"
    assert failure.value.message and failure.value.message == vardex.last_error()


def test_a_store_that_cannot_be_opened_raises_with_the_reason_and_leaves_no_session(tmp_path):
    with pytest.raises(vardex.VardexError) as failure:
        with vardex.Session(f"Provider=SQLite;Data Source={tmp_path}/missing/dir/x.db"):
            pass
    assert failure.value.call == "ConnectDatabase"
    assert failure.value.message == vardex.last_error() and "x.db" in failure.value.message
    with pytest.raises(vardex.VardexError):
        vardex.disconnect()


def test_the_message_handler_is_a_python_callable_and_its_failures_stay_in_python(store, capsys):
    seen = []

    def handler(text, caption, box_type):
        seen.append((text, caption, box_type))
        return vardex.IDOK

    vardex.set_message_handler(handler)
    try:
        with vardex.Session(store):
            # Item 99 is not defined: the library warns in every mode.
            assert vardex.check_user_right("clerk", 99, "报表") == vardex.RIGHT_NOT_HELD
            assert seen == [("权限没有定义(99 报表)", "用户权限", vardex.MB_OK | vardex.MB_ICONWARNING)]

            vardex.set_message_handler(lambda *box: 1 / 0)
            assert vardex.check_user_right("clerk", 99) == vardex.RIGHT_NOT_HELD
            assert "ZeroDivisionError" in capsys.readouterr().err
    finally:
        vardex.set_message_handler(None)


def test_hostile_texts_are_answers_or_clear_errors(store):
    with vardex.Session(store):
        for text in ["x' OR '1'='1", "\\", "名" * 100, "a" * (1 << 20)]:
            assert vardex.check_user_login(text, text) == vardex.LOGIN_NO_USER
        # Bytes that are not valid text are refused, never read with replacement characters.
        with pytest.raises(vardex.VardexError):
            vardex.check_user_login(b"\xff\xfe", b"\xff\xfe")
        with pytest.raises(ValueError):
            vardex.check_user_login("clerk\0admin", "")
        with pytest.raises(OverflowError):
            vardex.check_user_right("clerk", 1 << 40)
        # Another thread gets its own answer or its own error, never a crash.
        results = []
        worker = threading.Thread(target=lambda: results.append(_answer_or_error()))
        worker.start()
        worker.join()
        assert results and results[0] in (vardex.LOGIN_OK, "error")


def _answer_or_error():
    try:
        return vardex.check_user_login("clerk", "")
    except vardex.VardexError:
        return "error"


def test_version_matches_the_package():
    assert vardex.version().split(".")[:2] == ["0", "2"]


def test_english_changes_the_boxes_only(store):
    seen = []
    vardex.set_message_handler(lambda text, caption, box_type: seen.append((text, caption)) or vardex.IDOK)
    try:
        with vardex.Session(store):
            with pytest.raises(vardex.VardexError):
                vardex.set_language("fr")
            vardex.set_language("en")
            assert vardex.check_user_right("clerk", 99, "report") == vardex.RIGHT_NOT_HELD
            vardex.set_language("zh")
            assert vardex.check_user_right("clerk", 99, "report") == vardex.RIGHT_NOT_HELD
    finally:
        vardex.set_language("zh")
        vardex.set_message_handler(None)
    assert seen == [("Permission item not defined (99 report)", "User Permission"),
                    ("权限没有定义(99 report)", "用户权限")]


def test_a_handler_change_the_library_refuses_keeps_the_handler_alive(store, tmp_path):
    # Run apart: on failure the next box calls freed memory and the process dies.
    script = tmp_path / "refused.py"
    script.write_text(f"""
import gc, threading, vardex
seen = []
vardex.set_message_handler(lambda text, caption, box_type: seen.append(text) or vardex.IDOK)
errors = []
def clear():
    try:
        vardex.set_message_handler(None)
    except vardex.VardexError as e:
        errors.append(e)
worker = threading.Thread(target=clear)
worker.start()
worker.join()
gc.collect()
with vardex.Session({str(store)!r}):
    for _ in range(3):
        assert vardex.check_user_right("clerk", 99) == vardex.RIGHT_NOT_HELD
assert len(seen) == 3, seen
# The refusal is told, not passed over.
assert errors and errors[0].call == "VardexSetMessageHandler", errors
# A handler that replaces itself while it runs returns safely; the new one takes the next box.
def first(text, caption, box_type):
    vardex.set_message_handler(lambda *box: seen.append("second") or vardex.IDOK)
    gc.collect()
    return vardex.IDOK
vardex.set_message_handler(first)
with vardex.Session({str(store)!r}):
    vardex.check_user_right("clerk", 99)
    vardex.check_user_right("clerk", 99)
assert seen[-1] == "second", seen
vardex.set_message_handler(None)
print("ok")
""")
    result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert result.returncode == 0 and result.stdout.strip() == "ok", (result.returncode, result.stderr)


def test_the_answer_enums_are_the_c_header_codes_and_the_calls_return_them(store):
    import pathlib
    import re
    root = pathlib.Path(__file__).resolve().parents[3]
    header = dict(re.findall(r"^#define (VARDEX_\w+) (\d+)\s*$", (root / "capi/vardex.h").read_text(), re.M))
    pascal = dict(re.findall(r"^\s*(VARDEX_\w+) = (\d+);", (root / "bindings/pascal/vardex.pas").read_text(), re.M))
    # The password policy's answer, coming to vardex.h with the policy itself.
    header.setdefault("VARDEX_PASSWORD_POLICY", "7")
    R = vardex
    members = {
        "VARDEX_OK": [R.ConnectResult.CONNECTED, R.LoginResult.VERIFIED, R.RightResult.HELD,
                      R.PasswordResult.CHANGED, R.DialogResult.VERIFIED, R.PasswordDialogResult.CHANGED],
        "VARDEX_CONNECT_FAILED": [R.ConnectResult.FAILED],
        "VARDEX_LOGIN_DISABLED": [R.LoginResult.DISABLED, R.PasswordResult.DISABLED],
        "VARDEX_LOGIN_EXPIRED": [R.LoginResult.EXPIRED, R.PasswordResult.EXPIRED],
        "VARDEX_LOGIN_WRONG_PASSWORD": [R.LoginResult.WRONG_PASSWORD, R.PasswordResult.WRONG_PASSWORD],
        "VARDEX_LOGIN_NO_USER": [R.LoginResult.NO_USER, R.PasswordResult.NO_USER],
        "VARDEX_RIGHT_NO_USER": [R.RightResult.NO_USER],
        "VARDEX_RIGHT_NO_GROUP": [R.RightResult.NO_GROUP],
        "VARDEX_RIGHT_NOT_HELD": [R.RightResult.NOT_HELD],
        "VARDEX_PASSWORD_SAME": [R.PasswordResult.SAME],
        "VARDEX_PASSWORD_NOT_CHANGED": [R.PasswordResult.NOT_CHANGED],
        "VARDEX_PASSWORD_POLICY": [R.PasswordResult.POLICY],
        "VARDEX_DIALOG_FAILED": [R.DialogResult.FAILED],
        "VARDEX_DIALOG_TIMED_OUT": [R.DialogResult.TIMED_OUT],
        "VARDEX_DIALOG_CANCELLED": [R.DialogResult.CANCELLED],
        "VARDEX_DIALOG_NOT_CHANGED": [R.PasswordDialogResult.NOT_CHANGED],
    }
    codes = {n for n in header if re.match(r"VARDEX_(OK|CONNECT|LOGIN|RIGHT|PASSWORD|DIALOG)", n)}
    assert codes == set(members), codes ^ set(members)
    for name, enum_members in members.items():
        assert pascal.get(name) == header[name], name
        for m in enum_members:
            assert m.value == int(header[name]), (name, m)
    every = {m for ms in members.values() for m in ms}
    for kind in (R.ConnectResult, R.LoginResult, R.RightResult, R.PasswordResult, R.DialogResult,
                 R.PasswordDialogResult):
        assert set(kind) <= every, kind
    with vardex.Session(store):
        assert vardex.check_user_login("nobody", "x") is R.LoginResult.NO_USER
        assert vardex.check_user_right("nobody", 7) is R.RightResult.NO_USER
        assert vardex.query_rights("clerk", [7, 99]) == [R.RightResult.HELD, R.RightResult.NOT_HELD]
        assert all(isinstance(a, R.RightResult) for a in vardex.query_rights("clerk", [7, 99]))
        assert vardex.change_user_password("clerk", "", "") is R.PasswordResult.SAME


def test_without_vardex_library_the_checkout_then_the_system_library_folder_is_searched(monkeypatch, tmp_path):
    import sysconfig
    assert vardex._LIBRARY_FOLDERS[0] == f"/usr/lib/{sysconfig.get_config_var('MULTIARCH')}"
    monkeypatch.delenv("VARDEX_LIBRARY", raising=False)
    # A package outside a checkout (an installed one) has no build of its own.
    checkout = vardex._checkout_library()
    if checkout is not None:
        assert checkout.endswith("/build/bin/libvardex.so.0") and vardex._library_path() == checkout
    monkeypatch.setattr(vardex, "_checkout_library", lambda: None)
    monkeypatch.setattr(vardex, "_LIBRARY_FOLDERS", [str(tmp_path / "none"), str(tmp_path)])
    assert vardex._library_path() == "libvardex.so.0"  # nothing there: the dynamic loader's search
    (tmp_path / "libvardex.so.0").write_bytes(b"")
    assert vardex._library_path() == str(tmp_path / "libvardex.so.0")
    monkeypatch.setenv("VARDEX_LIBRARY", "/elsewhere/libvardex.so.0")
    assert vardex._library_path() == "/elsewhere/libvardex.so.0"


def test_the_audit_log_reads_lazily_page_by_page_with_its_filters_taken_literally(store):
    import sqlite3
    path = store.split("Data Source=", 1)[1]
    db = sqlite3.connect(path)
    db.executemany("INSERT INTO qx_Logs VALUES (?, ?, ?, ?)",
                   [("pc1", "o'b%_", "2026-05-01 10:00:0%d" % i, "用户登录") for i in range(5)] +
                   [("pc2", "ob", "2026-05-02 10:00:00", "使用权限(export)")])
    db.commit()
    db.close()
    with vardex.Session(store):
        rows = vardex.query_log(page=2)
        first = next(rows)
        assert first == vardex.LogRow("pc2", "ob", "2026-05-02 10:00:00", "使用权限(export)")
        assert [r.time[-2:] for r in rows] == ["04", "03", "02", "01", "00"]
        assert [r.time for r in vardex.query_log(user="o'b%_", oldest_first=True, page=3)][0] == \
            "2026-05-01 10:00:00"
        assert vardex.count_log(user="o'b%") == 5 and vardex.count_log(user="o_") == 0
        assert vardex.count_log(text="(export)", until="2026-05-02") == 1
        with pytest.raises(vardex.VardexError):
            next(vardex.query_log(user=b"\xff"))
