{ vardex.pas - Free Pascal / Lazarus unit for libvardex, the Vardex user and permission library.

  Every call of vardex.h with the same name, arguments and answer codes. Texts are PChar in the
  process's 8-bit encoding (UTF-8 on Linux; a Lazarus String passes as PChar(s)). A call that
  answers VARDEX_ERROR leaves its message in VardexLastError.

  The unit links libvardex (vardex-dev provides the development link libvardex.so). }
unit vardex;

{$mode objfpc}{$H+}
{$macro on}
{$if defined(WINDOWS) and defined(CPU386)}
  {$define VARDEXCALL:=stdcall}
{$else}
  {$define VARDEXCALL:=cdecl}
{$endif}

interface

uses
  ctypes;

const
  VardexLibrary = 'vardex';

  VARDEX_ERROR = -1;

  { The answer codes, as vardex.h documents them beside each call. }
  VARDEX_OK = 0;
  VARDEX_CONNECT_FAILED = 1;
  VARDEX_LOGIN_DISABLED = 1;
  VARDEX_LOGIN_EXPIRED = 2;
  VARDEX_LOGIN_WRONG_PASSWORD = 3;
  VARDEX_LOGIN_NO_USER = 4;
  VARDEX_RIGHT_NO_USER = 1;
  VARDEX_RIGHT_NO_GROUP = 2;
  VARDEX_RIGHT_NOT_HELD = 3;
  VARDEX_PASSWORD_SAME = 5;
  VARDEX_PASSWORD_NOT_CHANGED = 6;
  VARDEX_PASSWORD_POLICY = 7; { the new password does not meet the store's password policy }
  VARDEX_DIALOG_FAILED = 1;
  VARDEX_DIALOG_TIMED_OUT = 2;
  VARDEX_DIALOG_CANCELLED = 3;
  VARDEX_DIALOG_NOT_CHANGED = 1;

  VARDEX_LOG_NEWEST_FIRST = 0;
  VARDEX_LOG_OLDEST_FIRST = 1;

  VARDEX_SHOW_NOTHING = 0;
  VARDEX_SHOW_FAILTEXT = 1;
  VARDEX_SHOW_BUILTIN = 2;

  VARDEX_MB_OK = $00000000;
  VARDEX_MB_OKCANCEL = $00000001;
  VARDEX_MB_YESNOCANCEL = $00000003;
  VARDEX_MB_YESNO = $00000004;
  VARDEX_MB_ICONERROR = $00000010;
  VARDEX_MB_ICONQUESTION = $00000020;
  VARDEX_MB_ICONWARNING = $00000030;
  VARDEX_MB_ICONINFORMATION = $00000040;

  VARDEX_IDOK = 1;
  VARDEX_IDCANCEL = 2;
  VARDEX_IDYES = 6;
  VARDEX_IDNO = 7;

type
  PPChar = ^PChar;
  TVardexMessageHandler = function(text, caption: PChar; boxType: cuint32; user: Pointer): cint32; VARDEXCALL;
  { One audit row for VardexQueryLog; the texts live during the call only. Return 0 for the next
    row, anything else to stop. position, given back as after, goes on after this row. }
  TVardexLogRowHandler = function(computer, user, time, text, position: PChar; context: Pointer): cint32;
    VARDEXCALL;

function ConnectDatabase(connectionString, userId, password, workDate, cipherKey: PChar): cint32;
  VARDEXCALL; external VardexLibrary;
function DisconnectDatabase: cint32; VARDEXCALL; external VardexLibrary;
function ClearLogs(beforeTime: PChar): cint32; VARDEXCALL; external VardexLibrary;
function CheckUserLogin(userId, password, workDate, failText: PChar; mode: cint32): cint32;
  VARDEXCALL; external VardexLibrary;
function CheckUserRight(userId: PChar; rightId: cint32; failText: PChar; mode: cint32): cint32;
  VARDEXCALL; external VardexLibrary;
{ What CheckUserRight would answer for each of count items, with no box and no audit row: for
  enabling menu entries. rightIds and answers point at count cint32 values. }
function VardexQueryRights(userId: PChar; rightIds: pcint32; count: cint32; answers: pcint32): cint32;
  VARDEXCALL; external VardexLibrary;
{ The audit log, filtered (user and computer: the name starts with; text: the event text
  contains; since, untilTime: times or days, untilTime a day taking the whole day), newest or
  oldest first, from the start (after nil or '') or after a position a handler was given, at
  most limit rows (0: all). Each row goes to handler; handler nil: the rows are counted. Returns
  the rows handed over (or counted), or VARDEX_ERROR. }
function VardexQueryLog(user, computer, text, since, untilTime: PChar; order: cint32; after: PChar;
  limit: cint32; handler: TVardexLogRowHandler; context: Pointer): cint32; VARDEXCALL; external VardexLibrary;
function ChangeUserPassword(userId, oldPassword, newPassword, workDate: PChar): cint32;
  VARDEXCALL; external VardexLibrary;
function ShowAbout: cint32; VARDEXCALL; external VardexLibrary;
function ShowLoginDialog(caption, workDate: PChar; userIdRef: PPChar; countRef, shiftRef: pcint32;
  maxShift: cint32): cint32; VARDEXCALL; external VardexLibrary;
function ShowChangePasswordDialog(userId, workDate: PChar): cint32; VARDEXCALL; external VardexLibrary;
function EditRightList(useTransaction: cint32): cint32; VARDEXCALL; external VardexLibrary;
function ShowRightManager(useTransaction, showDiscount: cint32): cint32; VARDEXCALL; external VardexLibrary;
{ The audit log window: chart, filters, rows newest first, CSV export. Administrators only. }
function VardexShowAuditLog: cint32; VARDEXCALL; external VardexLibrary;
procedure VardexSetMessageHandler(handler: TVardexMessageHandler; user: Pointer); VARDEXCALL;
  external VardexLibrary;
function VardexLastError: PChar; VARDEXCALL; external VardexLibrary;
function VardexVersion: PChar; VARDEXCALL; external VardexLibrary;
{ 'zh' (the default) or 'en': the language of the windows and boxes shown from now on. }
function VardexSetLanguage(code: PChar): cint32; VARDEXCALL; external VardexLibrary;

implementation

end.
