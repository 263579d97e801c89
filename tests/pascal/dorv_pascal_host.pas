{ A station host written in Object Pascal (Free Pascal, Delphi mode) driving Dorv5000.dll
  under Wine through the integrators' unit pascal/Dorv5000Host.pas: creation, the class table,
  record results, a whole filling over a Pascal HostLink that answers from a script, every kind
  of failure caught as Exception or ESerialIO with its exact message, an exception raised by
  the link inside the driver, the menu and its click, and Free.

  Built once per convention: plain for the stdcall library, with -dDORV_REGISTER for the
  register library (scripts/test-pascal.sh), and run with the matching Dorv5000.dll beside it.

  Free Pascal's own classes do not lay out their tables as the stations' compiler does: its
  virtual methods start after a header of its own, at positive offsets, so a Free Pascal class
  declared like the driver's would call the wrong entries. This host therefore never casts the
  driver object to a class. TDorvDriver calls each slot through the object's table with a
  procedure type and an explicit Self, and frees the object through the table's Destroy entry
  (-4) with the outermost flag in DL, which is what a Delphi host's Free does. The link and the
  menu the driver calls are the unit's objects with hand-made tables, for the same reason.
  Free Pascal also places a stdcall method's record-result pointer after Self, where Delphi
  places it before; a procedure type with an explicit Self takes it before Self, as Delphi's
  methods do.

  Usage: dorv_pascal_host.exe [path of Dorv5000.dll]. The last line is "N passed, M failed";
  the exit code is 1 when anything failed. }
program dorv_pascal_host;

{$MODE DELPHI}{$H+}

uses
  Windows, SysUtils, Classes, Menus, Dorv5000Host;

const
  { The driver's texts in CP1251. }
  ColumnRange = #$CD#$EE#$EC#$E5#$F0#$20#$EA#$EE#$EB#$EE#$ED#$EA#$E8#$20#$E2#$FB#$F5#$EE#$E4#$E8 +
    #$F2#$20#$E7#$E0#$20#$E4#$EE#$EF#$F3#$F1#$F2#$E8#$EC#$FB#$E9#$20#$E4#$E8#$E0#$EF#$EE#$E7#$EE#$ED;
  DriverInfoText = 'v2.41#' + #$CF#$F0#$EE#$F2#$EE#$EA#$EE#$EB#$20#$EA#$EE#$EB#$EE#$ED#$EE#$EA +
    ' Dorv 5000';
  MenuCaption = #$CF#$F0#$EE#$E3#$F0#$E0#$EC#$EC#$E8#$F0#$EE#$E2#$E0#$ED#$E8#$E5#$20#$EF#$E0#$F0 +
    #$E0#$EC#$E5#$F2#$F0#$EE#$E2' (Dorv 5000)';
  DispenserMenu = '&'#$D2#$D0#$CA;       { "&ТРК" }
  DispenserNoAccel = #$D2#$D0#$CA;       { "ТРК" }
  FileMenu = #$D4#$E0#$E9#$EB;           { "Файл" }
  HelpMenu = #$D1#$EF#$F0#$E0#$E2#$EA#$E0; { "Справка" }

  Ack = #$06;
  Line = 1;

type
  EHostOwn = class(Exception);

  { Line 1 of a station: each transaction must carry the next scripted request record and gets
    its reply, checked by the validator the library installed, as a real link does. }
  TScriptLink = class(THostLink)
  public
    Script: array of AnsiString;   { request record, reply, request record, reply, ... }
    Next: Integer;
    Sent: array of AnsiString;
    Faults: string;
    TransactResult: Integer;
    RaiseIn: string;                { the operation that raises EHostOwn }
    RaiseSkip: Integer;             { transactions let through before Transact raises }
    Configured: string;
    State: Byte;
    Code: Integer;
    Validator: TDorvReplyValidator;
    ValidatorContext: Pointer;
    Configurator: TDorvLineConfigurator;
    ConfiguratorContext: Pointer;
    ControlWords: string;          { x87 words Transact found on entry and after the validator }
    procedure Expect(const Steps: array of AnsiString);
    function Done: Boolean;
    function LastSent: AnsiString;
    function GetLineError(ALine: Byte): Integer; override;
    procedure ReportLineCode(ALine: Byte; ACode: Integer); override;
    procedure ReportLineState(ALine: Byte; AState: Integer); override;
    function ReadLineState(ALine: Byte): Byte; override;
    function Transact(ALine: Byte; Frame: PByte; FrameLength: Byte; Reply: PByte;
      ReplyLength, Mode: Byte): Integer; override;
    function ConfigureLine(ALine: Byte; Format, Baud: Integer): Integer; override;
    procedure SetReplyValidator(ALine: Byte; AValidator: TDorvReplyValidator;
      Context: Pointer); override;
    procedure SetLineConfigurator(ALine: Byte; AConfigurator: TDorvLineConfigurator;
      Context: Pointer); override;
  end;

var
  Passed, Failed: Integer;
  GetDI30: TGetDI30;
  Link: TScriptLink;
  WinDir: string;

procedure Check(Ok: Boolean; const What: string);
begin
  if Ok then
  begin
    Inc(Passed);
    WriteLn('  ok    ', What);
  end
  else
  begin
    Inc(Failed);
    WriteLn('  FAIL  ', What);
  end;
end;

function Hex(const S: AnsiString): string;
var
  I: Integer;
begin
  Result := '';
  for I := 1 to Length(S) do
    Result := Result + IntToHex(Ord(S[I]), 2) + ' ';
  Result := Trim(Result);
end;

{ A request record for line 1, column 1: group 2, the nozzle's address byte, the command. }
function Req(Command: AnsiChar; const Data: AnsiString = ''; Address: Byte = $21): AnsiString;
begin
  Result := #$02 + AnsiChar(Address) + Command + Data;
end;

{ A data reply: 02, each byte and its complement, 03 03, the check byte. }
function DataReply(const Data: AnsiString): AnsiString;
var
  I: Integer;
  Check: Byte;
begin
  Result := #$02;
  Check := $03;
  for I := 1 to Length(Data) do
  begin
    Result := Result + Data[I] + AnsiChar(Ord(Data[I]) xor $7F);
    Check := Check xor Ord(Data[I]);
  end;
  Result := Result + #$03#$03 + AnsiChar(Check or $40);
end;

{ The request record inside a frame: 7F, group, each byte with its complement, 03 03, check
  byte over all but the group; '' when the frame is malformed. }
function RecordOf(Frame: PByte; Length: Integer): AnsiString;
var
  F: PByteArray;
  N, I: Integer;
  Check: Byte;
begin
  Result := '';
  F := PByteArray(Frame);
  if (Length < 5) or (Length mod 2 = 0) or (F^[0] <> $7F) then
    Exit;
  N := (Length - 3) div 2;
  Result := AnsiChar(F^[1]);
  Check := $03;
  for I := 1 to N - 1 do
  begin
    if (F^[2 * I] xor F^[2 * I + 1]) <> $7F then
    begin
      Result := '';
      Exit;
    end;
    Result := Result + AnsiChar(F^[2 * I]);
    Check := Check xor F^[2 * I];
  end;
  if (F^[2 * N] <> $03) or (F^[2 * N + 1] <> $03) or (F^[2 * N + 2] <> (Check or $40)) then
    Result := '';
end;

{ ---- TScriptLink ---- }

procedure TScriptLink.Expect(const Steps: array of AnsiString);
var
  I: Integer;
begin
  SetLength(Script, Length(Steps));
  for I := 0 to High(Steps) do
    Script[I] := Steps[I];
  Next := 0;
  Faults := '';
end;

function TScriptLink.Done: Boolean;
begin
  if Next < Length(Script) then
    Faults := Faults + Format('%d scripted exchange(s) not made; ', [(Length(Script) - Next) div 2]);
  Result := Faults = '';
  if not Result then
    WriteLn('        ', Faults);
  Script := nil;
  Next := 0;
end;

function TScriptLink.LastSent: AnsiString;
begin
  if Length(Sent) = 0 then
    Result := ''
  else
    Result := Sent[High(Sent)];
end;

function TScriptLink.GetLineError(ALine: Byte): Integer;
begin
  Result := 9;
end;

procedure TScriptLink.ReportLineCode(ALine: Byte; ACode: Integer);
begin
  Code := ACode;
end;

procedure TScriptLink.ReportLineState(ALine: Byte; AState: Integer);
begin
  if RaiseIn = 'ReportLineState' then
    raise EHostOwn.Create('state refused');
  State := AState;
end;

function TScriptLink.ReadLineState(ALine: Byte): Byte;
begin
  if RaiseIn = 'ReadLineState' then
    raise EHostOwn.Create('line state unknown');
  Result := State;
end;

function TScriptLink.Transact(ALine: Byte; Frame: PByte; FrameLength: Byte; Reply: PByte;
  ReplyLength, Mode: Byte): Integer;
var
  Rec, Answer: AnsiString;
  Len: Byte;
begin
  Result := 0;
  State := 2;  { silent until a reply is accepted }
  Code := -1;
  ControlWords := ControlWords + IntToHex(Get8087CW, 4) + ' ';
  Rec := RecordOf(Frame, FrameLength);
  SetLength(Sent, Length(Sent) + 1);
  Sent[High(Sent)] := Rec;
  if RaiseIn = 'Transact' then
    if RaiseSkip > 0 then
      Dec(RaiseSkip)
    else
      raise EHostOwn.Create('port gone');
  if TransactResult <> 0 then
  begin
    Result := TransactResult;
    Exit;
  end;
  if (ALine <> Line) or (Rec = '') then
  begin
    Faults := Faults + 'malformed frame; ';
    Exit;
  end;
  if (Next >= Length(Script)) or (Script[Next] <> Rec) then
  begin
    Faults := Faults + 'sent ' + Hex(Rec) + '; ';
    Exit;
  end;
  Answer := Script[Next + 1];
  Inc(Next, 2);
  if Answer = '' then
    Exit;
  Move(Answer[1], Reply^, Length(Answer));
  Len := Length(Answer);
  if not Assigned(Validator) or not Validator(ValidatorContext, ALine, Reply, 0, @Len, 0) or
    (Code <> 0) or (State <> 1) then
    Faults := Faults + 'the library rejected ' + Hex(Answer) + '; ';
  ControlWords := ControlWords + IntToHex(Get8087CW, 4) + ' ';
end;

function TScriptLink.ConfigureLine(ALine: Byte; Format, Baud: Integer): Integer;
begin
  if RaiseIn = 'ConfigureLine' then
    raise EHostOwn.Create('no such port');
  Configured := Configured + SysUtils.Format('%d,%d,%d;', [ALine, Format, Baud]);
  Result := 0;
end;

procedure TScriptLink.SetReplyValidator(ALine: Byte; AValidator: TDorvReplyValidator;
  Context: Pointer);
begin
  if RaiseIn = 'SetReplyValidator' then
    raise EHostOwn.Create('validator refused');
  Validator := AValidator;
  ValidatorContext := Context;
end;

procedure TScriptLink.SetLineConfigurator(ALine: Byte; AConfigurator: TDorvLineConfigurator;
  Context: Pointer);
begin
  Configurator := AConfigurator;
  ConfiguratorContext := Context;
end;

{ ---- the checks ---- }

function NewDriver: TDorvDriver;
begin
  Result := TDorvDriver.Create(GetDI30, 0, Link.Handle);
end;

procedure WriteSettings(const Text: AnsiString);
var
  F: TextFile;
begin
  AssignFile(F, WinDir + '\cnf.INI');
  Rewrite(F);
  Write(F, Text);
  CloseFile(F);
end;

procedure CheckObjectAndRecords(D: TDorvDriver);
var
  Table: PAnsiChar;
  Info: TDorvDriverInfo;
  Text: AnsiString;
begin
  WriteLn('The object and its class table');
  Table := PPointer(D.Handle)^;
  Check(PPointer(Table - 76)^ = Table, 'entry -76 points at slot 0');
  Check(D.TableClassName = 'TVM30', 'class name "TVM30" at -44');
  Check(D.TableInstanceSize > 4, Format('instance size at -40 (%d bytes)', [D.TableInstanceSize]));
  Check(PPointer(Table - 36)^ = nil, 'no parent at -36');
  WriteLn('Record results');
  FillChar(Info, SizeOf(Info), $55);
  Info := D.GetDriverInfo;
  SetString(Text, PAnsiChar(@Info.Text[0]), 32);
  Check((Info.Length = 32) and (Text = DriverInfoText), 'GetDriverInfo: 32, "v2.41#..." in CP1251');
end;

procedure CheckSmallArguments(D: TDorvDriver);
type
  TProperty = record
    Number: Integer;
    Known: Boolean;
    Value: Integer;
  end;
const
  Properties: array[0..5] of TProperty = ((Number: 1; Known: True; Value: 1),
    (Number: 5; Known: True; Value: 1), (Number: 7; Known: True; Value: 400),
    (Number: 9; Known: True; Value: 99999), (Number: 8; Known: False; Value: -5),
    (Number: -1; Known: False; Value: -5));
var
  I, Value: Integer;
begin
  WriteLn('Byte, integer and pointer arguments');
  for I := 0 to High(Properties) do
  begin
    Value := -5;
    Check((D.GetDriverProperty(Properties[I].Number, Value) = Properties[I].Known) and
      (Value = Properties[I].Value), Format('GetDriverProperty(%d) = %d', [Properties[I].Number, Value]));
  end;
  D.SetLineStatus(5, 9);
  D.SetLineStatus(39, 200);
  Check((D.GetLineStatus(5) = 9) and (D.GetLineStatus(39) = 200) and (D.GetLineStatus(6) = 0),
    'SetLineStatus / GetLineStatus');
  Check(D.GetStatusCode(1, 1) = 0, 'GetStatusCode without an exchange');
  Check(not D.Reserved5(7), 'Reserved5 answers false');
end;

procedure CheckFilling(D: TDorvDriver);
var
  Status: TDorvStatusRecord;
  Litres, Money, First, Second: Double;
  SetupResult, Again: Integer;
  TypeStep, FillingStep: array[0..1] of AnsiString;
begin
  WriteLn('A whole filling on line 1, column 1, nozzle 1');
  Link.Configured := '';
  Link.Expect([]);
  SetupResult := D.SetupLine(Line);
  Again := -1;
  if Assigned(Link.Configurator) then
    Again := Link.Configurator(Link.ConfiguratorContext, Line);
  Check(Link.Done and (Link.Configured = '1,42,4800;1,42,4800;') and (SetupResult = 0) and
    (Again = 0), 'SetupLine and the host''s call of the line configurator');

  Link.Expect([Req('Q', '4550'), Ack]);
  D.SetPrice(Line, 1, 1, 45.50);
  Check(Link.Done, 'SetPrice 45.50');
  Link.Expect([Req('T', '01098'), Ack]);
  D.PresetAmount(Line, 1, 1, 500.00);
  Check(Link.Done, 'PresetAmount 500.00 becomes 10.98 litres');
  Link.Expect([Req('8'), Ack, Req('U'), Ack, Req('2'), Ack]);
  D.AuthorizeNozzle(Line, 1, 1, 0);
  Check(Link.Done, 'AuthorizeNozzle: release, authorize, start');
  Link.Expect([Req('1'), DataReply('4')]);
  Status := D.GetStatus(Line, 1, 1);
  Check(Link.Done and (Status.Bytes[0] = $C8), 'GetStatus: nozzle lifted (C8)');
  Link.Expect([Req('4'), DataReply('000120')]);
  Litres := D.GetFillingVolume(Line, 1, Money);
  Check(Link.Done and (Abs(Litres - 1.20) < 1e-6) and (Abs(Money - 54.60) < 1e-6),
    Format('GetFillingVolume: %.2f l, %.2f', [Litres, Money]));
  Link.Expect([Req('1'), DataReply('40')]);
  Status := D.GetStatus(Line, 1, 1);
  Check(Link.Done and (Status.Bytes[0] = $D1), 'GetStatus: delivering (D1)');
  TypeStep[0] := Req('7');
  TypeStep[1] := DataReply('A');
  FillingStep[0] := Req('5');
  FillingStep[1] := DataReply('001050047775');
  Link.Expect([Req('1'), DataReply('41'), TypeStep[0], TypeStep[1], FillingStep[0],
    FillingStep[1], Req('8'), Ack]);
  Status := D.GetStatus(Line, 1, 1);
  Check(Link.Done and (Status.Bytes[0] = $D8) and (Status.Bytes[2] = $D8) and
    (Status.Bytes[14] = 1), 'GetStatus: filling ended, read and released (D8)');
  Link.Expect([TypeStep[0], TypeStep[1], FillingStep[0], FillingStep[1]]);
  D.GetFilling(Line, 1, Litres, Money);
  Check(Link.Done and (Abs(Litres - 10.50) < 1e-6) and (Abs(Money - 477.75) < 1e-6),
    Format('GetFilling: %.2f l, %.2f', [Litres, Money]));
  Link.Expect([Req('6'), DataReply('0012345600567890')]);
  D.ReadCounters(Line, 1, 1, First, Second);
  Check(Link.Done and (Abs(First - 1234.56) < 1e-6) and (Abs(Second - 567.89) < 1e-6),
    Format('ReadCounters: %.2f, %.2f', [First, Second]));
  Link.Expect([Req('1'), DataReply('0'), Req('1', '', $22), DataReply('1')]);
  Status := D.GetStatus(Line, 1, 2);
  Check(Link.Done and (Status.Bytes[0] = $E2) and (Status.Bytes[2] = $C0) and
    (Status.Bytes[4] = $E2) and (Status.Bytes[14] = 2) and (Status.Bytes[15] = 0),
    'GetStatus of two nozzles: the whole 16-byte record');
  Check(D.GetLineStatus(Line) = 1, 'GetLineStatus(1) = 1 after the filling');
end;

{ ---- failures ---- }

type
  TFailureCall = procedure(D: TDorvDriver);
  TFailureCase = record
    Name: string;
    RaiseIn: string;
    TransactResult: Integer;
    Call: TFailureCall;
    Expected: ExceptClass;
    Message: string;
  end;

procedure StartColumn34(D: TDorvDriver);
begin
  D.StartNozzle(Line, 34, 1);
end;

procedure StartNozzle1(D: TDorvDriver);
begin
  Link.Expect([Req('2'), Ack]);
  D.StartNozzle(Line, 1, 1);
end;

procedure PriceOnLine40(D: TDorvDriver);
begin
  D.SetPrice(40, 1, 1, 10);
end;

procedure CheckFailures(D: TDorvDriver);
const
  Cases: array[0..6] of TFailureCase = (
    (Name: 'a column above 33 is the caller''s fault'; RaiseIn: ''; TransactResult: 0;
     Call: StartColumn34; Expected: Exception; Message: ColumnRange),
    (Name: 'a line above 39 is the caller''s fault'; RaiseIn: ''; TransactResult: 0;
     Call: PriceOnLine40; Expected: Exception;
     Message: #$CD#$EE#$EC#$E5#$F0#$20#$EB#$E8#$ED#$E8#$E8#$20#$E2#$FB#$F5 +
       #$EE#$E4#$E8#$F2#$20#$E7#$E0#$20#$E4#$EE#$EF#$F3#$F1#$F2#$E8#$EC#$FB#$E9#$20#$E4#$E8#$E0#$EF#$E0#$E7#$EE#$ED),
    (Name: 'a link that cannot transact is the line''s fault'; RaiseIn: ''; TransactResult: 5;
     Call: StartNozzle1; Expected: ESerialIO; Message: 'Can''t START POMP'),
    (Name: 'a Pascal exception out of Transact is the line''s fault'; RaiseIn: 'Transact';
     TransactResult: 0; Call: StartNozzle1; Expected: ESerialIO; Message: 'Can''t START POMP'),
    (Name: 'a Pascal exception out of ReadLineState is the line''s fault';
     RaiseIn: 'ReadLineState'; TransactResult: 0; Call: StartNozzle1; Expected: ESerialIO;
     Message: 'Can''t START POMP'),
    (Name: 'a Pascal exception out of ReportLineState goes through the validator into Transact';
     RaiseIn: 'ReportLineState'; TransactResult: 0; Call: StartNozzle1; Expected: ESerialIO;
     Message: 'Can''t START POMP'),
    (Name: 'a Pascal exception out of SetReplyValidator reaches the host as it was';
     RaiseIn: 'SetReplyValidator'; TransactResult: 0; Call: StartNozzle1; Expected: EHostOwn;
     Message: 'validator refused'));
var
  I: Integer;
  Caught: string;
begin
  WriteLn('Failures, each caught as the host catches it');
  for I := 0 to High(Cases) do
  begin
    Link.RaiseIn := Cases[I].RaiseIn;
    Link.TransactResult := Cases[I].TransactResult;
    Caught := 'nothing raised';
    try
      Cases[I].Call(D);
    except
      on E: Exception do
        if (E.ClassType = Cases[I].Expected) and (E.Message = Cases[I].Message) then
          Caught := ''
        else
          Caught := E.ClassName + ': ' + Hex(E.Message);
    end;
    Link.RaiseIn := '';
    Link.TransactResult := 0;
    Link.Script := nil;
    Check(Caught = '', Cases[I].Name + ' (' + Cases[I].Expected.ClassName + ')');
    if Caught <> '' then
      WriteLn('        caught ', Caught);
  end;
end;

{ An exception out of the host's Transact unwinds the driver's own frames. A status query that
  finds a filling ended reads it with the column's current nozzle set to the queried one and
  puts the started nozzle back afterwards; when the link raises during that reading, the
  started nozzle must still be put back, so that a later StopColumn stops it and not nozzle 1. }
procedure CheckStateAfterLinkException(D: TDorvDriver);
var
  Caught: string;
  SetupResult: Integer;
begin
  WriteLn('An exception raised by the link inside the driver');
  Link.Expect([Req('2', '', $22), Ack]);
  D.StartNozzle(Line, 1, 2);
  Check(Link.Done, 'StartNozzle(1, 1, 2) goes to address 22');
  Link.Expect([Req('1'), DataReply('41')]);
  Link.RaiseIn := 'Transact';
  Link.RaiseSkip := 1;
  Caught := 'nothing raised';
  try
    D.GetStatus(Line, 1, 1);
  except
    on E: Exception do
      if (E.ClassType = ESerialIO) and (E.Message = 'Can''t GetType') then
        Caught := ''
      else
        Caught := E.ClassName + ' ' + Hex(E.Message);
  end;
  Link.RaiseIn := '';
  Check(Link.Done and (Caught = ''), 'GetStatus raises ESerialIO "Can''t GetType" when Transact raises in its reading ' + Caught);
  Link.Expect([Req('3', '', $22), Ack]);
  D.StopColumn(Line, 1, 1);
  Check(Link.Done and (Link.LastSent = Req('3', '', $22)),
    'a later StopColumn stops nozzle 2: sent ' + Hex(Link.LastSent));
  Link.RaiseIn := 'ConfigureLine';
  Caught := '';
  try
    SetupResult := D.SetupLine(Line);
  except
    on E: Exception do
    begin
      Caught := E.ClassName;
      SetupResult := -100;
    end;
  end;
  Link.RaiseIn := '';
  Check((Caught = '') and (SetupResult = 9),
    Format('SetupLine returns the line error when ConfigureLine raises (%d)', [SetupResult]));
end;

{ ---- the host's floating-point control word ---- }

const
  { Delphi's defaults: invalid operation, zero divide and overflow unmasked. }
  HostCW = $1332;
  HostMXCSR = $1900;
  SignalingNaN: Int64 = $7FF0000000000001;
  QuietNaN: Int64 = $7FF8000000000000;
  Infinity: Int64 = $7FF0000000000000;
  FpuRows = 26;
  { 'E': the library's Exception must come; '-': whatever the library answers. }
  FpuExpect: array[0..FpuRows - 1] of AnsiChar = ('-', '-', 'E', 'E', 'E', 'E', '-', 'E',
    '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-', '-');
  FpuNames: array[0..FpuRows - 1] of string = ('GetDriverInfo', 'SetPrice 0.0001',
    'PresetAmount 1e308 at that price (litres overflow)', 'PresetVolume 1e308', 'PresetVolume +Inf',
    'SetPrice NaN', 'SetPrice 1e-310 (denormal)', 'WriteCounter signaling NaN', 'PresetAmount 0.005',
    'SetPrice 9999.995', 'SetLineStatus/GetLineStatus', 'StopColumn', 'Reserved5',
    'GetFilling, a reading of 999.99 l', 'ReadCounters 99999999.99', 'GetFillingVolume',
    'GetStatusCode', 'Reserved12', 'StartNozzle', 'SetupLine', 'GetParam/SetParam',
    'AuthorizeNozzle', 'GetDriverProperty', 'GetStatus/StopNozzle/StopAndRelease',
    'AttachMenu nil, Reserved25/26', 'GetDI30 and Free');

procedure FpuCall(D: TDorvDriver; Row: Integer);
var
  A, B: Double;
  V: Integer;
begin
  case Row of
    0: D.GetDriverInfo;
    1: D.SetPrice(Line, 1, 1, 0.0001);
    2: D.PresetAmount(Line, 1, 1, 1e308);
    3: D.PresetVolume(Line, 1, 1, 1e308);
    4: D.PresetVolume(Line, 1, 1, PDouble(@Infinity)^);
    5: D.SetPrice(Line, 1, 1, PDouble(@QuietNaN)^);
    6: D.SetPrice(Line, 1, 1, 1e-310);
    7: D.WriteCounter(Line, 1, 1, PDouble(@SignalingNaN)^);
    8: D.PresetAmount(Line, 1, 1, 0.005);
    9: D.SetPrice(Line, 1, 1, 9999.995);
    10: begin D.SetLineStatus(Line, 255); D.GetLineStatus(Line); end;
    11: D.StopColumn(Line, 1, 1);
    12: D.Reserved5(-1);
    13: begin
          Link.Expect([Req('7'), DataReply('A'), Req('5'), DataReply('999990999999999999')]);
          D.GetFilling(Line, 1, A, B);
        end;
    14: begin
          Link.Expect([Req('6'), DataReply('99999999999999999999')]);
          D.ReadCounters(Line, 1, 1, A, B);
        end;
    15: begin
          Link.Expect([Req('4'), DataReply('099999')]);
          D.GetFillingVolume(Line, 1, A);
        end;
    16: D.GetStatusCode(Line, 33);
    17: D.Reserved12(0, 0, 0);
    18: D.StartNozzle(Line, 1, 4);
    19: D.SetupLine(Line);
    20: begin D.GetParam(Line, 1, 32); D.SetParam(Line, 1, 32, MaxInt); end;
    21: D.AuthorizeNozzle(Line, 1, 1, 1);
    22: D.GetDriverProperty(7, V);
    23: begin D.GetStatus(Line, 1, 4); D.StopNozzle(Line, 1, 1, 1); D.StopAndRelease(Line, 1, 1, 1); end;
    24: begin D.AttachMenu(nil, nil); D.Reserved25(0, 0); D.Reserved26(0, 0); end;
    25: NewDriver.Free;
  end;
end;

{ Every slot driven from a host with Delphi's control words, with values whose arithmetic
  inside overflows or is invalid: the host sees only the library's own exceptions, finds its
  words unchanged after each call, and its link's code runs under its own word too. }
procedure CheckHostControlWord(D: TDorvDriver);
var
  Row: Integer;
  Caught, Words, HostWords: string;
begin
  WriteLn('The host''s floating-point control word');
  for Row := 0 to FpuRows - 1 do
  begin
    Set8087CW(HostCW);
    SetMXCSR(HostMXCSR);
    HostWords := Format('%.4x/%.4x', [Get8087CW, GetMXCSR]);  { x87 bit 6 always reads 1 }
    Link.ControlWords := '';
    Caught := 'nothing';
    try
      FpuCall(D, Row);
    except
      on E: Exception do
        if (E.ClassType = Exception) or (E.ClassType = ESerialIO) then
          Caught := 'library'
        else
          Caught := E.ClassName;
    end;
    Words := Format('%.4x/%.4x', [Get8087CW, GetMXCSR]);
    Link.Script := nil;
    Check(((Caught = 'library') or ((Caught = 'nothing') and (FpuExpect[Row] = '-'))) and
      (Words = HostWords) and
      (StringReplace(StringReplace(Link.ControlWords, Copy(HostWords, 1, 4), '', [rfReplaceAll]),
      ' ', '', [rfReplaceAll]) = ''),
      Format('%s: %s raised, words %s, link saw %s', [FpuNames[Row], Caught, Words,
      Trim(Link.ControlWords)]));
  end;
end;

{ ---- the menu ---- }

var
  WindowsClosed: Integer;  { showings of the parameter window that the closer ended }

{ The engineer's side of a click: waits for the parameter window and closes it. }
function CloseParamWindow(Parameter: Pointer): PtrInt;
var
  I: Integer;
  W: HWND;
begin
  Result := 0;
  for I := 1 to 1000 do
  begin
    W := FindWindow('TParamFrm', nil);
    if (W <> 0) and IsWindowVisible(W) then
    begin
      InterLockedIncrement(WindowsClosed);
      PostMessage(W, WM_CLOSE, 0, 0);
      Exit;
    end;
    Sleep(20);
  end;
end;

{ A click on the item with a display: it shows the parameter window until that is closed. }
procedure ClickShowsTheWindow(Added: TMenuItem; const What: string);
var
  Closer, CloserId: TThreadID;
  Before: Integer;
begin
  Before := WindowsClosed;
  Closer := BeginThread(@CloseParamWindow, nil, CloserId);
  Added.OnClick(Added);  { a TNotifyEvent: the data in EAX, the sender in EDX }
  WaitForThreadTerminate(Closer, 30000);
  Check(WindowsClosed = Before + 1, What);
end;

procedure CheckMenu(var D: TDorvDriver; Other: TDorvDriver);
var
  Root, Dispenser, Added: TMenuItem;
begin
  WriteLn('AttachMenu and the click');
  Root := TMenuItem.Create(nil);
  try
    Root.Add(TMenuItem.Create(Root));
    Root[0].Caption := FileMenu;
    Root.Add(TMenuItem.Create(Root));
    Root[1].Caption := DispenserNoAccel;
    Root.Add(TMenuItem.Create(Root));
    Root[2].Caption := DispenserMenu;
    Root.Add(TMenuItem.Create(Root));
    Root[3].Caption := HelpMenu;
    D.AttachMenu(Root);
    Dispenser := Root[2];
    Check((Root[1].Count = 0) and (Dispenser.Count = 1), 'one item added under "&' + 'TRK" (CP1251 26 D2 D0 CA)');
    if Dispenser.Count <> 1 then
      Exit;
    Added := Dispenser[0];
    Check((Added.Caption = MenuCaption) and (Added.Hint = MenuCaption),
      'caption and hint in CP1251: ' + Hex(Copy(Added.Caption, 1, 6)) + ' ...');
    Check((Added.HelpContext = 0) and (Added.ShortCut = 0) and Assigned(Added.OnClick),
      'help context 0, no shortcut, OnClick set');
    Other.AttachMenu(Root);
    Check(Dispenser.Count = 1, 'a second AttachMenu adds nothing');

    { ReadDecimalTRK: the first price of a column reads its decimals; the click marks every
      column's decimals to be read again. }
    Link.Expect([Req('N', 'F'), DataReply('F2'), Req('Q', '4550'), Ack]);
    D.SetPrice(Line, 1, 1, 45.50);
    Check(Link.Done, 'first price reads the column''s decimals');
    Link.Expect([Req('Q', '4550'), Ack]);
    D.SetPrice(Line, 1, 1, 45.50);
    Check(Link.Done, 'second price does not');
    ClickShowsTheWindow(Added, 'the click opens the parameter window; it closes');
    Link.Expect([Req('N', 'F'), DataReply('F2'), Req('Q', '4550'), Ack]);
    D.SetPrice(Line, 1, 1, 45.50);
    Check(Link.Done, 'after the click the next price reads the decimals again');

    { The item stays in the host's menu; its click must not reach the freed driver (a fault
      here ends the run before its summary) and opens the window for the host's new driver. }
    D.Free;
    D := NewDriver;
    ClickShowsTheWindow(Added, 'after its driver is freed the click opens the window for a new one');
    D.Free;
    D := nil;
  finally
    Root.Free;
  end;
end;

{ ---- Free ---- }

type
  TProcessHeapEntry = record
    Data: Pointer;
    Size: DWORD;
    Overhead: Byte;
    RegionIndex: Byte;
    Flags: Word;
    Rest: array[0..3] of DWORD;
  end;

function HeapWalk(Heap: THandle; var Entry: TProcessHeapEntry): BOOL; stdcall;
  external 'kernel32.dll' name 'HeapWalk';
function _putenv(Setting: PAnsiChar): Integer; cdecl; external 'msvcrt.dll' name '_putenv';
function GetProcessHeaps(Count: DWORD; Heaps: PHandle): DWORD; stdcall;
  external 'kernel32.dll' name 'GetProcessHeaps';

{ Bytes in use in every heap of the process. }
function BusyHeapBytes: Int64;
const
  EntryBusy = $0004;
var
  Heaps: array[0..63] of THandle;
  Count, I: DWORD;
  Entry: TProcessHeapEntry;
begin
  Result := 0;
  Count := GetProcessHeaps(64, @Heaps[0]);
  if Count > 64 then
    Count := 64;
  for I := 0 to Count - 1 do
  begin
    FillChar(Entry, SizeOf(Entry), 0);
    while HeapWalk(Heaps[I], Entry) do
      if (Entry.Flags and EntryBusy) <> 0 then
        Inc(Result, Entry.Size);
  end;
end;

{ ---- the trace switch ---- }

function FileText(const Path: string): AnsiString;
var
  Stream: TFileStream;
begin
  Result := '';
  if not FileExists(Path) then
    Exit;
  Stream := TFileStream.Create(Path, fmOpenRead or fmShareDenyNone);
  try
    SetLength(Result, Stream.Size);
    if Stream.Size > 0 then
      Stream.ReadBuffer(Result[1], Stream.Size);
  finally
    Stream.Free;
  end;
end;

{ Starts nozzle 1 Count times over the scripted link. }
procedure Exchanges(D: TDorvDriver; Count: Integer);
var
  I: Integer;
begin
  for I := 1 to Count do
  begin
    Link.Expect([Req('2'), Ack]);
    D.StartNozzle(Line, 1, 1);
    Link.Done;
  end;
end;

{ The trace is left in the current folder as dorv.trace (and dorv.trace.1) for
  scripts/test-pascal.sh to decode with `dorv trace`. }
procedure CheckTrace;
var
  D: TDorvDriver;
  Path, EnvPath: string;
  Newest, Older, EnvText: AnsiString;
begin
  WriteLn('The trace switch');
  Path := GetCurrentDir + '\dorv.trace';
  EnvPath := GetCurrentDir + '\env.trace';
  DeleteFile(Path);
  DeleteFile(Path + '.1');
  DeleteFile(EnvPath);
  WriteSettings('[Dorv]'#13#10'TraceFile=' + AnsiString(Path) + #13#10'TraceLimitKB=1'#13#10);
  D := NewDriver;
  Exchanges(D, 20);
  D.Free;
  Newest := FileText(Path);
  Older := FileText(Path + '.1');
  Check((Length(Older) > 512) and (Length(Older) <= 1024) and (Length(Newest) <= 1024) and
    (Pos(' TX line 01 7F 02 21 5E 32 4D 03 03 ', Newest) > 0) and (Pos(' RX line 01 06 |', Newest) > 0),
    Format('TraceFile, TraceLimitKB=1: 20 exchanges rotate into .1 (%d and %d bytes), TX and RX lines',
    [Length(Older), Length(Newest)]));
  _putenv(PAnsiChar(AnsiString('DORV_TRACE=' + EnvPath)));
  D := NewDriver;
  Exchanges(D, 1);
  D.Free;
  _putenv('DORV_TRACE=');
  EnvText := FileText(EnvPath);
  Check((Pos(' TX line 01 ', EnvText) > 0) and (FileText(Path) = Newest),
    'DORV_TRACE names the trace file over the key');
  DeleteFile(WinDir + '\cnf.INI');
  D := NewDriver;
  Exchanges(D, 1);
  D.Free;
  Check((FileText(EnvPath) = EnvText) and (FileText(Path) = Newest),
    'neither key nor DORV_TRACE: nothing traced');
end;

procedure CheckFree;
const
  Rounds = 40;
var
  D: TDorvDriver;
  Before, After: Int64;
  Size, I: Integer;
  Info: TDorvDriverInfo;
begin
  WriteLn('Free');
  D := NewDriver;
  Size := D.TableInstanceSize;
  D.Free;
  Before := BusyHeapBytes;
  for I := 1 to Rounds do
    NewDriver.Free;
  After := BusyHeapBytes;
  Check(After - Before < 4 * Size, Format('%d drivers created and freed: %d bytes still in use (object: %d)',
    [Rounds, After - Before, Size]));
  D := NewDriver;
  Info := D.GetDriverInfo;
  Check(Info.Length = 32, 'GetDI30 after Free gives a working driver');
  D.Free;
end;

var
  LibraryPath: string;
  Module: HMODULE;
  Driver, MenuDriver: TDorvDriver;
begin
  LibraryPath := 'Dorv5000.dll';
  if ParamCount > 0 then
    LibraryPath := ParamStr(1);
  { A folder of the test's own stands for the Windows directory (cnf.INI); set before the
    library is loaded. }
  WinDir := IncludeTrailingPathDelimiter(GetTempDir) + 'dorv-pascal-host-' + IntToStr(GetCurrentProcessId);
  CreateDir(WinDir);
  SetEnvironmentVariable('DORV_WINDIR', PChar(WinDir));
  { The library reads it through the C run-time, whose copy of the environment may be older. }
  _putenv(PAnsiChar(AnsiString('DORV_WINDIR=' + WinDir)));
{$IFDEF DORV_REGISTER}
  WriteLn('Pascal host, register convention: ', LibraryPath);
{$ELSE}
  WriteLn('Pascal host, stdcall convention: ', LibraryPath);
{$ENDIF}
  Module := LoadLibrary(PChar(LibraryPath));
  if Module = 0 then
  begin
    WriteLn('cannot load ', LibraryPath);
    Halt(2);
  end;
  GetDI30 := TGetDI30(GetProcAddress(Module, 'GetDI30'));
  Check(Assigned(GetDI30), 'GetDI30 exported');
  if not Assigned(GetDI30) then
    Halt(1);
  Link := TScriptLink.Create;
  try
    Driver := NewDriver;
    Check(Driver.Handle <> nil, 'GetDI30(0, 0, link) gives the driver object');
    CheckObjectAndRecords(Driver);
    CheckSmallArguments(Driver);
    CheckFilling(Driver);
    CheckFailures(Driver);
    CheckStateAfterLinkException(Driver);

    WriteSettings('[Dorv]'#13#10'ReadDecimalTRK=1'#13#10);
    MenuDriver := NewDriver;
    DeleteFile(WinDir + '\cnf.INI');
    CheckMenu(MenuDriver, Driver);
    CheckHostControlWord(Driver);
    Driver.Free;
    CheckTrace;
    CheckFree;

    { Last: GetDI30 itself fails when the settings file cannot be read. }
    CreateDir(WinDir + '\cnf.INI');
    try
      NewDriver.Free;
      Check(False, 'an unreadable settings file fails GetDI30');
    except
      on E: Exception do
        Check((E.ClassType = Exception) and (E.Message = 'Cannot read file ' + WinDir + '\cnf.INI'),
          'an unreadable settings file fails GetDI30: ' + E.ClassName + ' "' + E.Message + '"');
    end;
    RemoveDir(WinDir + '\cnf.INI');
  except
    on E: Exception do
      Check(False, 'unexpected ' + E.ClassName + ': ' + E.Message);
  end;
  RemoveDir(WinDir);
  WriteLn(Passed, ' passed, ', Failed, ' failed');
  if Failed > 0 then
    Halt(1);
end.
