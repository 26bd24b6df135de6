{ Console test of the vardex unit against libvardex: every kind of argument (texts, NIL,
  numbers, pointers, a callback) crosses the calling convention and comes back as documented.
    test_vardex CONNSTR     (a freshly installed SQLite store) }
program test_vardex;

{$mode objfpc}{$H+}

uses
  ctypes, SysUtils, vardex;

var
  failures: Integer = 0;
  boxes: Integer = 0;
  lastText, lastCaption: String;
  lastType: cuint32;
  lastUser: Pointer;
  marker: Integer;

procedure Check(ok: Boolean; const what: String);
begin
  if not ok then
  begin
    WriteLn('FAILED: ', what);
    Inc(failures);
  end;
end;

var
  logRows: Integer = 0;
  lastPosition, lastLogUser: String;

function OnLogRow(computer, user, time, text, position: PChar; context: Pointer): cint32; cdecl;
begin
  Inc(logRows);
  lastLogUser := user;
  lastPosition := position;
  Check(context = @logRows, 'log context pointer comes back');
  Result := 0;
end;

function OnBox(text, caption: PChar; boxType: cuint32; user: Pointer): cint32; cdecl;
begin
  Inc(boxes);
  lastText := text;
  lastCaption := caption;
  lastType := boxType;
  lastUser := user;
  Result := VARDEX_IDOK;
end;

var
  conn: String;
  rc: cint32;
  ids, answers: array[0..1] of cint32;
begin
  if ParamCount <> 1 then
  begin
    WriteLn('usage: test_vardex CONNSTR');
    Halt(2);
  end;
  conn := ParamStr(1);

  Check(String(VardexVersion) = '0.2.0', 'VardexVersion is 0.2.0, got ' + VardexVersion);
  Check(VardexSetLanguage('fr') = VARDEX_ERROR, 'an unknown language: VARDEX_ERROR');
  Check(VardexSetLanguage('zh') = 0, 'Chinese: 0');
  Check(CheckUserLogin('a', 'b', nil, nil, VARDEX_SHOW_NOTHING) = VARDEX_ERROR, 'no session: VARDEX_ERROR');
  Check(StrLen(VardexLastError) > 0, 'the error has a message');
  Check(ConnectDatabase('Provider=SQLite;Data Source=/nonexistent-dir/x/y.db', nil, nil, nil, nil) = 1,
    'an unreachable store answers 1');

  rc := ConnectDatabase(PChar(conn), '', '', '', '');
  Check(rc = 0, 'connect: ' + IntToStr(rc) + ' ' + VardexLastError);
  VardexSetMessageHandler(@OnBox, @marker);
  Check(CheckUserLogin('nobody', 'x', '', nil, VARDEX_SHOW_NOTHING) = 4, 'unknown user: 4');
  Check(ChangeUserPassword('nobody', 'x', 'y', nil) = 4, 'change for an unknown user: 4');
  Check(StrLen(VardexLastError) = 0, 'no error after an answer');
  // Item 1234567 is not defined: the warning comes through the handler with its user pointer.
  Check(CheckUserRight('nobody', 1234567, 'pascal', VARDEX_SHOW_NOTHING) = 1, 'right of an unknown user: 1');
  Check(boxes = 1, 'one box, got ' + IntToStr(boxes));
  Check(lastText = '权限没有定义(1234567 pascal)', 'box text: ' + lastText);
  Check(lastCaption = '用户权限', 'box caption: ' + lastCaption);
  Check(lastType = VARDEX_MB_OK or VARDEX_MB_ICONWARNING, 'box type');
  Check(lastUser = @marker, 'user pointer comes back');
  ids[0] := 1234567; ids[1] := 1; answers[0] := -5; answers[1] := -5;
  Check(VardexQueryRights('nobody', @ids[0], 2, @answers[0]) = 0, 'VardexQueryRights: ' + VardexLastError);
  Check((answers[0] = 1) and (answers[1] = 1) and (boxes = 1), 'rights of an unknown user: 1, no box');
  Check(VardexQueryRights('nobody', nil, 1, @answers[0]) = VARDEX_ERROR, 'NULL rightIds: VARDEX_ERROR');
  VardexSetMessageHandler(nil, nil);
  // The store's policy has audit.failures on (bindings.sh): each refused login above wrote a row.
  Check(CheckUserLogin('x''y', '', '', nil, VARDEX_SHOW_NOTHING) = 4, 'a quote in a user ID: 4');
  rc := VardexQueryLog(nil, nil, nil, nil, nil, VARDEX_LOG_NEWEST_FIRST, nil, 0, nil, nil);
  Check(rc = 3, 'three refused logins counted, got ' + IntToStr(rc) + ' ' + VardexLastError);
  rc := VardexQueryLog('', '', '', '', '', VARDEX_LOG_OLDEST_FIRST, nil, 5, @OnLogRow, @logRows);
  Check((rc = 3) and (logRows = 3), 'VardexQueryLog hands each row: ' + IntToStr(rc) + ' ' + VardexLastError);
  Check(lastLogUser = 'x''y', 'the last row is the newest: ' + lastLogUser);
  Check(VardexQueryLog('x''', nil, '(无此用户)', nil, nil, VARDEX_LOG_NEWEST_FIRST, nil, 0, nil, nil) = 1,
    'filters with a quote and Chinese text');
  Check(VardexQueryLog(nil, nil, nil, nil, nil, VARDEX_LOG_OLDEST_FIRST, PChar(lastPosition), 0, @OnLogRow,
    @logRows) = 0, 'nothing after the newest row');
  Check(VardexQueryLog('', '', '', '', '', 7, nil, 0, nil, nil) = VARDEX_ERROR, 'an unknown order: VARDEX_ERROR');
  Check(ClearLogs('') = 0, 'ClearLogs');
  Check(DisconnectDatabase = 0, 'disconnect');
  Check(DisconnectDatabase = VARDEX_ERROR, 'a second disconnect is an error');

  if failures > 0 then
  begin
    WriteLn(failures, ' check(s) failed');
    Halt(1);
  end;
  WriteLn('test_vardex: all checks passed');
end.
