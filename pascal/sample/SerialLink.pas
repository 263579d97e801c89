{ A station's serial line as the driver's HostLink, over the Windows COM API.

  What the driver relies on, and how this link does it:
  - Transact sends the frame, collects the reply until its framing says it is whole (or the
    line stays silent for ReplyTimeout), has the driver's validator check it, and returns 0:
    a silent line is a completed transaction whose state is not 1. A failure of the port
    itself returns the Windows error code, which the driver raises as ESerialIO.
  - Input left on the line from an earlier exchange is discarded before each request, so a
    late reply never stands for this one.
  - One exchange at a time: the driver calls the link from the host's thread and from the
    parameter window's own threads, so Transact holds a lock for the whole exchange, and
    touches nothing of the VCL.
  - ReadLineState answers what the validator reported in the calling thread's last exchange
    on the line (1 answered, 3 a damaged frame; 2 here stands for a silent line), so that an
    exchange of another thread in between cannot change the answer. }
unit SerialLink;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$WARN SYMBOL_DEPRECATED OFF}  { GetTickCount: Delphi 7 has no GetTickCount64 }

interface

uses
  Windows, SysUtils, Dorv5000Host;

type
  TSerialLink = class(THostLink)
  private
    FPort: THandle;
    FLock: TRTLCriticalSection;
    FState: array[Byte] of Byte;
    FValidator: array[Byte] of TDorvReplyValidator;
    FValidatorContext: array[Byte] of Pointer;
    FConfigurator: array[Byte] of TDorvLineConfigurator;
    FConfiguratorContext: array[Byte] of Pointer;
    procedure SetState(Line: Byte; State: Byte);
  public
    ReplyTimeout: Cardinal;  { milliseconds of silence that end a reply }
    { Opens COM<PortNumber>; raises EOSError when the port cannot be opened. }
    constructor Create(PortNumber: Integer);
    destructor Destroy; override;
    function GetLineError(Line: Byte): Integer; override;
    procedure ReportLineCode(Line: Byte; Code: Integer); override;
    procedure ReportLineState(Line: Byte; State: Integer); override;
    function ReadLineState(Line: Byte): Byte; override;
    function Transact(Line: Byte; Frame: PByte; FrameLength: Byte; Reply: PByte;
      ReplyLength, Mode: Byte): Integer; override;
    function ConfigureLine(Line: Byte; Format, Baud: Integer): Integer; override;
    procedure SetReplyValidator(Line: Byte; Validator: TDorvReplyValidator;
      Context: Pointer); override;
    procedure SetLineConfigurator(Line: Byte; Configurator: TDorvLineConfigurator;
      Context: Pointer); override;
  end;

implementation

const
  StateSilent = 2;
  ReplyCapacity = 255;

threadvar
  LastLine: Integer;  { line + 1 of this thread's last exchange; 0: none yet }
  LastState: Byte;

{ A reply is whole when its framing says so: 06, 15 or 18 alone, or 02, data bytes with their
  complements, 03 03 and the check byte. Noise ahead of the lead byte is the validator's. }
function ReplyComplete(Buffer: PByteArray; Length: Integer): Boolean;
var
  I: Integer;
begin
  Result := False;
  I := 0;
  while (I < Length) and not (Buffer^[I] in [$02, $06, $15, $18]) do
    Inc(I);
  if I >= Length then
    Exit;
  if Buffer^[I] <> $02 then
  begin
    Result := True;
    Exit;
  end;
  Inc(I);
  while I < Length do
  begin
    if Buffer^[I] = $03 then
    begin
      Result := I + 2 < Length;
      Exit;
    end;
    Inc(I, 2);
  end;
end;

constructor TSerialLink.Create(PortNumber: Integer);
var
  Timeouts: TCommTimeouts;
begin
  inherited Create;
  InitializeCriticalSection(FLock);
  ReplyTimeout := 300;
  FPort := CreateFile(PChar('\\.\COM' + IntToStr(PortNumber)), GENERIC_READ or GENERIC_WRITE,
    0, nil, OPEN_EXISTING, 0, 0);
  if FPort = INVALID_HANDLE_VALUE then
    RaiseLastOSError;
  { A read returns as soon as a byte is there, or after 20 ms without one. }
  FillChar(Timeouts, SizeOf(Timeouts), 0);
  Timeouts.ReadIntervalTimeout := MAXDWORD;
  Timeouts.ReadTotalTimeoutMultiplier := MAXDWORD;
  Timeouts.ReadTotalTimeoutConstant := 20;
  Timeouts.WriteTotalTimeoutConstant := 1000;
  SetCommTimeouts(FPort, Timeouts);
end;

destructor TSerialLink.Destroy;
begin
  if FPort <> INVALID_HANDLE_VALUE then
    CloseHandle(FPort);
  DeleteCriticalSection(FLock);
  inherited Destroy;
end;

function TSerialLink.GetLineError(Line: Byte): Integer;
begin
  Result := ERROR_GEN_FAILURE;
end;

procedure TSerialLink.ReportLineCode(Line: Byte; Code: Integer);
begin
  { The validator's reason (222 check byte, 223 no lead byte, 246 trailer); the state below
    says all the driver needs. }
end;

procedure TSerialLink.SetState(Line: Byte; State: Byte);
begin
  FState[Line] := State;
  LastLine := Line + 1;
  LastState := State;
end;

procedure TSerialLink.ReportLineState(Line: Byte; State: Integer);
begin
  SetState(Line, State);
end;

function TSerialLink.ReadLineState(Line: Byte): Byte;
begin
  if LastLine = Line + 1 then
    Result := LastState
  else
    Result := FState[Line];
end;

function TSerialLink.Transact(Line: Byte; Frame: PByte; FrameLength: Byte; Reply: PByte;
  ReplyLength, Mode: Byte): Integer;
var
  Buffer: array[0..ReplyCapacity - 1] of Byte;
  Length, Got: Cardinal;
  Written: Cardinal;
  Quiet: Cardinal;
  ReplySize: Byte;
begin
  EnterCriticalSection(FLock);
  try
    Result := 0;
    SetState(Line, StateSilent);
    PurgeComm(FPort, PURGE_RXCLEAR);
    if not WriteFile(FPort, Frame^, FrameLength, Written, nil) or (Written <> FrameLength) then
    begin
      Result := Integer(GetLastError);
      if Result = 0 then
        Result := ERROR_WRITE_FAULT;
      Exit;
    end;
    Length := 0;
    Quiet := GetTickCount;
    while (Length < ReplyCapacity) and not ReplyComplete(@Buffer, Length) do
    begin
      if not ReadFile(FPort, Buffer[Length], ReplyCapacity - Length, Got, nil) then
      begin
        Result := Integer(GetLastError);
        Exit;
      end;
      if Got > 0 then
      begin
        Inc(Length, Got);
        Quiet := GetTickCount;
      end
      else if GetTickCount - Quiet >= ReplyTimeout then
        Break;
    end;
    if Length = 0 then
      Exit;  { silent: completed, state 2 }
    Move(Buffer, Reply^, Length);
    ReplySize := Length;
    if not Assigned(FValidator[Line]) or
      not FValidator[Line](FValidatorContext[Line], Line, Reply, 0, @ReplySize, 0) then
      if LastState = StateSilent then
        SetState(Line, 3);  { bytes came, but no reply the driver accepts }
  finally
    LeaveCriticalSection(FLock);
  end;
end;

{ 42 and 4800: 8 data bits, no parity, one stop bit at 4800 baud. }
function TSerialLink.ConfigureLine(Line: Byte; Format, Baud: Integer): Integer;
var
  Dcb: TDCB;
begin
  Result := 0;
  FillChar(Dcb, SizeOf(Dcb), 0);
  Dcb.DCBlength := SizeOf(Dcb);
  if not GetCommState(FPort, Dcb) then
  begin
    Result := Integer(GetLastError);
    Exit;
  end;
  Dcb.BaudRate := Baud;
  Dcb.ByteSize := 8;
  Dcb.Parity := NOPARITY;
  Dcb.StopBits := ONESTOPBIT;
  if not SetCommState(FPort, Dcb) then
    Result := Integer(GetLastError);
end;

procedure TSerialLink.SetReplyValidator(Line: Byte; Validator: TDorvReplyValidator;
  Context: Pointer);
begin
  FValidator[Line] := Validator;
  FValidatorContext[Line] := Context;
end;

procedure TSerialLink.SetLineConfigurator(Line: Byte; Configurator: TDorvLineConfigurator;
  Context: Pointer);
begin
  FConfigurator[Line] := Configurator;
  FConfiguratorContext[Line] := Context;
end;

end.
