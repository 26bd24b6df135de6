"""Python binding of libvardex, the Vardex user and permission library.

A thin ctypes layer over the C interface (vardex.h): every call keeps its meaning and its answer
codes; a call that returns VARDEX_ERROR raises VardexError carrying VardexLastError().

    import vardex
    with vardex.Session("Provider=SQLite;Data Source=store.db"):
        if vardex.check_user_login("clerk", "secret") == vardex.LoginResult.VERIFIED:
            ...

The library is the path in the VARDEX_LIBRARY environment variable; else, when this package is
the one in a Vardex checkout (bindings/python), the library that checkout's build made
(build/bin/libvardex.so.0, as tools/run.sh and tools/test.sh build it); else the vardex package's
libvardex.so.0 in the system's library folder (/usr/lib/x86_64-linux-gnu on amd64), else whatever
libvardex.so.0 the dynamic loader finds. Texts are passed as UTF-8.
"""
from __future__ import annotations

import ctypes
import enum
import os
import sys
import sysconfig
import threading
import traceback
from typing import Callable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

__all__ = [
    "VardexError", "Session", "connect", "disconnect", "clear_logs", "check_user_login",
    "check_user_right", "query_rights", "change_user_password", "show_about", "show_login_dialog",
    "show_change_password_dialog", "edit_right_list", "show_right_manager", "show_audit_log",
    "set_message_handler", "set_language", "last_error", "version", "library", "query_log", "count_log",
    "LogRow",
    "ConnectResult", "LoginResult", "RightResult", "PasswordResult", "DialogResult", "PasswordDialogResult",
    "ShowMode", "Button",
]

VARDEX_ERROR = -1


# The answers of the calls, the VARDEX_ codes of vardex.h. Each is an int (it compares equal to
# the bare number), so code written against the numbers keeps working.
class ConnectResult(enum.IntEnum):
    """connect: VARDEX_OK, VARDEX_CONNECT_FAILED."""
    CONNECTED = 0
    FAILED = 1


class LoginResult(enum.IntEnum):
    """check_user_login: VARDEX_OK, VARDEX_LOGIN_..."""
    VERIFIED = 0
    DISABLED = 1
    EXPIRED = 2  # outside the validity period
    WRONG_PASSWORD = 3
    NO_USER = 4


class RightResult(enum.IntEnum):
    """check_user_right and query_rights: VARDEX_OK, VARDEX_RIGHT_..."""
    HELD = 0
    NO_USER = 1
    NO_GROUP = 2  # the member's user group no longer exists
    NOT_HELD = 3


class PasswordResult(enum.IntEnum):
    """change_user_password: VARDEX_OK, the VARDEX_LOGIN_ codes, VARDEX_PASSWORD_..."""
    CHANGED = 0
    DISABLED = 1
    EXPIRED = 2
    WRONG_PASSWORD = 3
    NO_USER = 4
    SAME = 5
    NOT_CHANGED = 6
    POLICY = 7  # the new password does not meet the store's password policy


class DialogResult(enum.IntEnum):
    """show_login_dialog: VARDEX_OK, VARDEX_DIALOG_FAILED, _TIMED_OUT, _CANCELLED."""
    VERIFIED = 0
    FAILED = 1  # the last allowed attempt failed
    TIMED_OUT = 2
    CANCELLED = 3


class PasswordDialogResult(enum.IntEnum):
    """show_change_password_dialog: VARDEX_OK, VARDEX_DIALOG_NOT_CHANGED."""
    CHANGED = 0
    NOT_CHANGED = 1


class ShowMode(enum.IntEnum):
    """The mode of check_user_login and check_user_right: VARDEX_SHOW_..."""
    NOTHING = 0
    FAILTEXT = 1  # on refusal show fail_text
    BUILTIN = 2  # on refusal show the library's own text


class Button(enum.IntEnum):
    """The button a message handler answers: VARDEX_IDOK, _IDCANCEL, _IDYES, _IDNO."""
    OK = 1
    CANCEL = 2
    YES = 6
    NO = 7


# The names of earlier versions.
LOGIN_OK, LOGIN_DISABLED, LOGIN_OUT_OF_PERIOD, LOGIN_WRONG_PASSWORD, LOGIN_NO_USER = LoginResult
RIGHT_HELD, RIGHT_NO_USER, RIGHT_GROUP_MISSING, RIGHT_NOT_HELD = RightResult

MB_OK, MB_OKCANCEL, MB_YESNOCANCEL, MB_YESNO = 0x0, 0x1, 0x3, 0x4
MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION = 0x10, 0x20, 0x30, 0x40
IDOK, IDCANCEL, IDYES, IDNO = Button
SHOW_NOTHING, SHOW_FAILTEXT, SHOW_BUILTIN = ShowMode

Text = Union[str, bytes, None]
MessageHandler = Callable[[str, str, int], int]


class VardexError(Exception):
    """A call failed instead of answering; the message is the library's VardexLastError()."""

    def __init__(self, call: str, message: str):
        super().__init__(f"{call}: {message}")
        self.call = call
        self.message = message


_LOG_ROW_TYPE = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                 ctypes.c_char_p, ctypes.c_char_p, ctypes.c_void_p)
_HANDLER_TYPE = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32,
                                 ctypes.c_void_p)
_lib: Optional[ctypes.CDLL] = None
_lib_lock = threading.Lock()
_handler_ref = None  # the ctypes callback must live as long as the library may call it
_handler_lock = threading.Lock()
_handlers_running = 0  # handler calls in progress (the library calls them on its one thread)
_retired_handlers: list = []  # replaced while one of them was running: still on the stack

_SIGNATURES = {
    "ConnectDatabase": ([ctypes.c_char_p] * 5, ctypes.c_int32),
    "DisconnectDatabase": ([], ctypes.c_int32),
    "ClearLogs": ([ctypes.c_char_p], ctypes.c_int32),
    "CheckUserLogin": ([ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32],
                       ctypes.c_int32),
    "CheckUserRight": ([ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
    "VardexQueryRights": ([ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32), ctypes.c_int32,
                           ctypes.POINTER(ctypes.c_int32)], ctypes.c_int32),
    "VardexQueryLog": ([ctypes.c_char_p] * 5 + [ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, _LOG_ROW_TYPE,
                                                ctypes.c_void_p], ctypes.c_int32),
    "ChangeUserPassword": ([ctypes.c_char_p] * 4, ctypes.c_int32),
    "ShowAbout": ([], ctypes.c_int32),
    "ShowLoginDialog": ([ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p),
                         ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int32), ctypes.c_int32],
                        ctypes.c_int32),
    "ShowChangePasswordDialog": ([ctypes.c_char_p, ctypes.c_char_p], ctypes.c_int32),
    "EditRightList": ([ctypes.c_int32], ctypes.c_int32),
    "ShowRightManager": ([ctypes.c_int32, ctypes.c_int32], ctypes.c_int32),
    "VardexShowAuditLog": ([], ctypes.c_int32),
    "VardexSetMessageHandler": ([_HANDLER_TYPE, ctypes.c_void_p], None),
    "VardexLastError": ([], ctypes.c_char_p),
    "VardexVersion": ([], ctypes.c_char_p),
    "VardexSetLanguage": ([ctypes.c_char_p], ctypes.c_int32),
}


_LIBRARY_NAME = "libvardex.so.0"
# Where the vardex package puts the library: Debian's multiarch folder, then the plain one.
_MULTIARCH = sysconfig.get_config_var("MULTIARCH")
_LIBRARY_FOLDERS = ([f"/usr/lib/{_MULTIARCH}"] if _MULTIARCH else []) + ["/usr/lib"]


def _checkout_library() -> Optional[str]:
    """The build's library when this file is bindings/python/vardex/__init__.py of a checkout."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
    candidate = os.path.join(root, "build", "bin", _LIBRARY_NAME)
    if os.path.isfile(os.path.join(root, "capi", "vardex.h")) and os.path.exists(candidate):
        return candidate
    return None


def _library_path() -> str:
    path = os.environ.get("VARDEX_LIBRARY") or _checkout_library()
    if path:
        return path
    for folder in _LIBRARY_FOLDERS:
        candidate = os.path.join(folder, _LIBRARY_NAME)
        if os.path.exists(candidate):
            return candidate
    return _LIBRARY_NAME  # the dynamic loader's own search (LD_LIBRARY_PATH, ldconfig's cache)


def library() -> ctypes.CDLL:
    """The loaded libvardex, with every call's argument and result types declared. OSError when
    it cannot be loaded."""
    global _lib
    with _lib_lock:
        if _lib is None:
            path = _library_path()
            try:
                lib = ctypes.CDLL(path)
            except OSError as e:
                raise OSError(f"vardex: cannot load {path} (install the vardex package or set "
                              f"VARDEX_LIBRARY to the library's path): {e}") from e
            for name, (args, result) in _SIGNATURES.items():
                fn = getattr(lib, name)
                fn.argtypes = args
                fn.restype = result
            _lib = lib
        return _lib


def _text(value: Text, name: str) -> Optional[bytes]:
    if value is None:
        return None
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogateescape")
    if not isinstance(value, (bytes, bytearray)):
        raise TypeError(f"{name} must be str or bytes, not {type(value).__name__}")
    if b"\0" in value:
        raise ValueError(f"{name} contains a NUL character")
    return bytes(value)


def _decode(value: Optional[bytes]) -> str:
    return (value or b"").decode("utf-8", "replace")


def _int32(value: int, name: str) -> int:
    value = int(value)
    if not -2**31 <= value < 2**31:
        raise OverflowError(f"{name} does not fit a 32-bit integer")
    return value


def _checked(call: str, rc: int) -> int:
    if rc == VARDEX_ERROR:
        raise VardexError(call, last_error())
    return rc


def _answer(kind, call: str, rc: int):
    """The member of kind for a call's answer; a code this binding does not know (from a newer
    library) stays a plain int rather than failing."""
    rc = _checked(call, rc)
    try:
        return kind(rc)
    except ValueError:
        return rc


def last_error() -> str:
    """The message of the last failed call on this thread ("" after a call that succeeded)."""
    return _decode(library().VardexLastError())


def set_language(code: Text) -> None:
    """The language of the windows and boxes shown from now on: "zh" (the default) or "en".
    Audit rows and the answers stay the same in every language. Raises VardexError otherwise."""
    _checked("VardexSetLanguage", library().VardexSetLanguage(_text(code, "code")))


def version() -> str:
    """The loaded library's version, "major.minor.patch"."""
    return _decode(library().VardexVersion())


def connect(connection_string: Text, user_id: Text = "", password: Text = "", work_date: Text = "",
            cipher_key: Text = "") -> ConnectResult:
    """Opens the library's session: CONNECTED, or FAILED when the connection could not be opened."""
    return _answer(ConnectResult, "ConnectDatabase", library().ConnectDatabase(
        _text(connection_string, "connection_string"), _text(user_id, "user_id"), _text(password, "password"),
        _text(work_date, "work_date"), _text(cipher_key, "cipher_key")))


def disconnect() -> int:
    """Writes the logout row, closes the connection and ends the session."""
    return _checked("DisconnectDatabase", library().DisconnectDatabase())


def clear_logs(before_time: Text = "") -> int:
    return _checked("ClearLogs", library().ClearLogs(_text(before_time, "before_time")))


def check_user_login(user_id: Text, password: Text, work_date: Text = "", fail_text: Text = None,
                     mode: int = SHOW_NOTHING) -> LoginResult:
    """VERIFIED, DISABLED, EXPIRED (outside the validity period), WRONG_PASSWORD or NO_USER."""
    return _answer(LoginResult, "CheckUserLogin", library().CheckUserLogin(
        _text(user_id, "user_id"), _text(password, "password"), _text(work_date, "work_date"),
        _text(fail_text, "fail_text"), _int32(mode, "mode")))


def check_user_right(user_id: Text, right_id: int, fail_text: Text = None,
                     mode: int = SHOW_NOTHING) -> RightResult:
    """HELD, NO_USER (no such user or group), NO_GROUP (the user's group is missing) or NOT_HELD."""
    return _answer(RightResult, "CheckUserRight", library().CheckUserRight(
        _text(user_id, "user_id"), _int32(right_id, "right_id"), _text(fail_text, "fail_text"),
        _int32(mode, "mode")))


def query_rights(user_id: Text, right_ids: Sequence[int]) -> List[RightResult]:
    """What check_user_right would answer for each item, in one round trip: no box, no audit row.
    For enabling menu entries; call check_user_right when the function is used."""
    ids = [_int32(r, "right_ids") for r in right_ids]
    count = len(ids)
    _int32(count, "len(right_ids)")
    id_array = (ctypes.c_int32 * max(count, 1))(*ids)
    answers = (ctypes.c_int32 * max(count, 1))()
    _checked("VardexQueryRights", library().VardexQueryRights(_text(user_id, "user_id"), id_array, count, answers))
    return [_answer(RightResult, "VardexQueryRights", a) for a in answers[:count]]


def change_user_password(user_id: Text, old_password: Text, new_password: Text,
                         work_date: Text = "") -> PasswordResult:
    """CHANGED, the login answers DISABLED to NO_USER, SAME (the new password equals the old) or
    NOT_CHANGED (no row changed)."""
    return _answer(PasswordResult, "ChangeUserPassword", library().ChangeUserPassword(
        _text(user_id, "user_id"), _text(old_password, "old_password"), _text(new_password, "new_password"),
        _text(work_date, "work_date")))


def show_about() -> int:
    return _checked("ShowAbout", library().ShowAbout())


def show_login_dialog(caption: Text = "", work_date: Text = "", count: int = 3, shift: int = 0,
                      max_shift: int = 0) -> Tuple[DialogResult, str, int]:
    """Shows the login window; returns (result, user ID on success else "", shift chosen)."""
    buffer = ctypes.create_string_buffer(64)
    user_ref = ctypes.c_char_p(ctypes.addressof(buffer))
    count_ref = ctypes.c_int32(_int32(count, "count"))
    shift_ref = ctypes.c_int32(_int32(shift, "shift"))
    result = _answer(DialogResult, "ShowLoginDialog", library().ShowLoginDialog(
        _text(caption, "caption"), _text(work_date, "work_date"), ctypes.byref(user_ref), ctypes.byref(count_ref),
        ctypes.byref(shift_ref), _int32(max_shift, "max_shift")))
    return result, _decode(buffer.value) if result == DialogResult.VERIFIED else "", shift_ref.value


def show_change_password_dialog(user_id: Text, work_date: Text = "") -> PasswordDialogResult:
    return _answer(PasswordDialogResult, "ShowChangePasswordDialog", library().ShowChangePasswordDialog(
        _text(user_id, "user_id"), _text(work_date, "work_date")))


def edit_right_list(use_transaction: bool = False) -> int:
    return _checked("EditRightList", library().EditRightList(1 if use_transaction else 0))


def show_right_manager(use_transaction: bool = False, show_discount: bool = False) -> int:
    return _checked("ShowRightManager", library().ShowRightManager(1 if use_transaction else 0,
                                                                    1 if show_discount else 0))


def show_audit_log() -> int:
    """The audit log window (an administrator's account; on a secured store a desktop's session
    is refused with VardexError)."""
    return _checked("VardexShowAuditLog", library().VardexShowAuditLog())


class LogRow(NamedTuple):
    """One audit row: the computer, the user's name as the row carries it, the time
    ("yyyy-MM-dd hh:mm:ss", "" when the row has none) and the event text as stored."""
    computer: str
    user: str
    time: str
    text: str


def query_log(user: Text = None, computer: Text = None, text: Text = None, since: Text = None,
              until: Text = None, oldest_first: bool = False, page: int = 500) -> Iterator[LogRow]:
    """The audit log's rows, newest first (or oldest first), lazily: each page of `page` rows is
    read when the iteration reaches it, going on from where the last one ended. user and computer
    match the start of the name, text any part of the event text, each literally; since and
    until are times or days (until a day: the whole day). Raises VardexError (no session, a
    desktop's account on a secured store, a database error) when a page is read."""
    args = [_text(user, "user"), _text(computer, "computer"), _text(text, "text"), _text(since, "since"),
            _text(until, "until")]
    order = 1 if oldest_first else 0
    size = _int32(page, "page")
    if size <= 0:
        raise ValueError("page must be above 0")
    after: Optional[bytes] = None
    while True:
        rows: List[Tuple[LogRow, bytes]] = []

        def keep(c, u, t, x, position, _context):
            rows.append((LogRow(_decode(c), _decode(u), _decode(t), _decode(x)), position or b""))
            return 0

        callback = _LOG_ROW_TYPE(keep)
        _checked("VardexQueryLog", library().VardexQueryLog(*args, order, after, size, callback, None))
        for row, _ in rows:
            yield row
        if len(rows) < size:
            return
        after = rows[-1][1]


def count_log(user: Text = None, computer: Text = None, text: Text = None, since: Text = None,
              until: Text = None) -> int:
    """The number of audit rows the filters of query_log keep."""
    return _checked("VardexQueryLog", library().VardexQueryLog(
        _text(user, "user"), _text(computer, "computer"), _text(text, "text"), _text(since, "since"),
        _text(until, "until"), 0, None, 0, _LOG_ROW_TYPE(), None))


def _fallback_answer(box_type: int) -> int:
    buttons = box_type & 0xF
    if buttons in (MB_OKCANCEL, MB_YESNOCANCEL):
        return IDCANCEL
    if buttons == MB_YESNO:
        return IDNO
    return IDOK


def set_message_handler(handler: Optional[MessageHandler]) -> None:
    """Takes every message box of the library: handler(text, caption, type) returns the button
    pressed (IDOK, IDCANCEL, IDYES, IDNO). None: the library's own boxes again. An exception in
    the handler is printed and the box answered Cancel (or No, or OK when that is the only one).
    Raises VardexError when the library refuses (a call from another thread): the handler in
    force stays, and so does the binding's hold on it."""
    global _handler_ref
    if handler is not None and not callable(handler):
        raise TypeError("handler must be callable or None")
    lib = library()
    callback = _HANDLER_TYPE()
    if handler is not None:
        def trampoline(text, caption, box_type, _user):
            global _handlers_running
            _handlers_running += 1
            try:
                return int(handler(_decode(text), _decode(caption), int(box_type)))
            except BaseException:  # an exception must not cross into the C library
                traceback.print_exc(file=sys.stderr)
                return _fallback_answer(box_type)
            finally:
                _handlers_running -= 1

        callback = _HANDLER_TYPE(trampoline)
    with _handler_lock:
        lib.VardexSetMessageHandler(callback, None)
        refused = last_error()
        if refused:
            # The library keeps calling the handler it has: so must it stay alive.
            raise VardexError("VardexSetMessageHandler", refused)
        # A handler replaced from inside a handler is still running: it is kept until a later
        # change made while no handler runs.
        if _handlers_running:
            _retired_handlers.append(_handler_ref)
        else:
            _retired_handlers.clear()
        _handler_ref = callback if handler is not None else None


class Session:
    """The library's session as a context manager: connects on entry (VardexError carrying the
    library's reason when the connection cannot be opened) and disconnects on exit."""

    def __init__(self, connection_string: Text, user_id: Text = "", password: Text = "", work_date: Text = "",
                 cipher_key: Text = ""):
        self._args = (connection_string, user_id, password, work_date, cipher_key)
        self.connected = False

    def __enter__(self) -> "Session":
        if connect(*self._args) != ConnectResult.CONNECTED:
            raise VardexError("ConnectDatabase", last_error() or "the connection could not be opened")
        self.connected = True
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        if self.connected:
            self.connected = False
            try:
                disconnect()
            except VardexError:
                if exc_type is None:
                    raise
