{ Dorv5000.dll for Object Pascal station hosts.

  The library's objects are laid out as the stations' compiler lays out its own (Delphi 4 to
  2007): the object's first word points at slot 0 of its class table, the slots follow, and at
  negative offsets stand the class name "TVM30", the instance size, FreeInstance (-8) and
  Destroy (-4), so that Free releases the driver with the library's own allocator.

  The library comes in two builds, one per convention a host may declare its methods with; the
  unit must be compiled for the same one:
    stdcall  (Dorv5000.dll built with --calls stdcall, the default): nothing to define;
    register (built with --calls register): define DORV_REGISTER.

  What the unit gives an integrator:
  - TDorvDriver: the driver object behind methods that call its slots through its table (any
    Object Pascal compiler). Delphi hosts may instead cast the object to TDorvDI30, the abstract
    class with the 26 slots in table order, and call and Free it directly.
  - THostLink: the base class of the host's serial link. Override its methods; hand Handle to
    GetDI30. Handle is an object whose table has the driver's operations at their places
    (1 GetLineError .. 21 SetLineConfigurator), each calling the method of the same name.
  - TDorvMenu: an adapter from a TMenuItem (unit Menus) to the menu interface of AttachMenu.
    The item the driver adds gets its OnClick as an ordinary TNotifyEvent.
  - The driver's failures as Exception and ESerialIO with the driver's message (CP1251),
    instead of the run-time library's "External exception E0445256".
  - Captions, hints and messages converted through code page 1251 whatever the station's own
    ANSI code page is (Unicode Delphi; Delphi 7 to 2007 hand the bytes on as they are).
  - IsMultiThread set: the library calls the link from threads of its own (README-windows.md). }
unit Dorv5000Host;

{$IFDEF FPC}{$IFNDEF UNICODE}{$MODE DELPHI}{$ENDIF}{$ENDIF}

interface

uses
  Windows, SysUtils, Classes, Menus;

type
  { The library's texts: CP1251 bytes. Unicode Delphi converts them through code page 1251 by
    the string type itself; older compilers keep the bytes, which a CP1251 station shows. }
{$IFDEF UNICODE}
  TDorvText = type AnsiString(1251);
{$ELSE}
  TDorvText = AnsiString;
{$ENDIF}

  { The record results of slots 1 and 21. }
  TDorvDriverInfo = packed record
    Length: Byte;                        { 32 }
    Text: array[0..31] of AnsiChar;      { "v2.41#..." in CP1251 }
  end;
  PDorvDriverInfo = ^TDorvDriverInfo;

  TDorvStatusRecord = packed record
    Bytes: array[0..15] of Byte;
  end;
  PDorvStatusRecord = ^TDorvStatusRecord;

  { The driver's failure on the line (a command's exchange could not be completed). }
  ESerialIO = class(Exception);

  { The callbacks the driver installs on the host's link; the link calls them with the
    context it was given. }
  TDorvReplyValidator = function(Context: Pointer; Line: Byte; Reply: PByte; Unused1: Integer;
    Length: PByte; Unused2: Integer): Boolean; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TDorvLineConfigurator = function(Context: Pointer; Line: Byte): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};

  TGetDI30 = function(Flags, Unused: Integer; Link: Pointer): Pointer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};

{$IFNDEF FPC}
  { The driver object as the stations' compiler declares it: slot 0 is abstract, slots 1 to 26
    follow in table order. GetDI30's result can be cast to it; Free destroys it. }
  TDorvDI30 = class(TObject)
  public
    procedure Abstract0; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetDriverInfo: TDorvDriverInfo; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure SetLineStatus(Line, Value: Byte); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetLineStatus(Line: Byte): Byte; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function StopColumn(Line, Column: Integer; Flag: Byte): Boolean; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function Reserved5(Unused: Integer): Boolean; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure GetFilling(Line, Column: Integer; Litres, Money: PDouble); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure ReadCounters(Line, Column, Nozzle: Integer; First, Second: PDouble; Unused1, Unused2: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure WriteCounter(Line, Column, Nozzle: Integer; Value: PDouble; Unused1, Unused2, Unused3: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetFillingVolume(Line, Column: Integer; Money: PDouble): Double; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetStatusCode(Line, Column: Byte): Word; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure SetPrice(Line, Column, Nozzle: Integer; Unused, Price: Double); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure Reserved12(A, B, C: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure PresetVolume(Line, Column, Nozzle, Unused: Integer; Litres: Double); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure PresetAmount(Line, Column, Nozzle, Unused: Integer; Money: Double); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure StartNozzle(Line, Column, Nozzle: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function SetupLine(Line: Byte): Integer; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetParam(Line, Column, HostParameter: Integer): Integer; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure SetParam(Line, Column, HostParameter, Value: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure AuthorizeNozzle(Line, Column, Nozzle: Integer; Flag: Byte); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetDriverProperty(Number: Integer; Value: PInteger): Boolean; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function GetStatus(Line, Column, NozzleCount: Byte): TDorvStatusRecord; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure StopNozzle(Line, Column, Nozzle: Integer; Flag: Byte); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    function StopAndRelease(Line, Column, Nozzle: Integer; Flag: Byte): Integer; virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure AttachMenu(Menu, Factory: Pointer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure Reserved25(A, B: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
    procedure Reserved26(A, B: Integer); virtual; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF}; abstract;
  end;
{$ENDIF}

  { The driver object behind its table: each method calls its slot with a procedure type and
    an explicit Self, which works whatever tables the host's own compiler builds. }
  TDorvDriver = class
  private
    FObject: Pointer;
    function Slot(Index: Integer): Pointer;
  public
    { Creates the driver through the library's GetDI30. }
    constructor Create(GetDI30: TGetDI30; Flags: Integer; Link: Pointer);
    { Frees the driver object as Free does: Destroy (-4) with the outermost flag. }
    destructor Destroy; override;
    property Handle: Pointer read FObject;
    { The class table's entries at negative offsets. }
    function TableClassName: ShortString;
    function TableInstanceSize: Integer;

    function GetDriverInfo: TDorvDriverInfo;
    procedure SetLineStatus(Line, Value: Byte);
    function GetLineStatus(Line: Byte): Byte;
    function StopColumn(Line, Column: Integer; Flag: Byte): Boolean;
    function Reserved5(Unused: Integer): Boolean;
    procedure GetFilling(Line, Column: Integer; out Litres, Money: Double);
    procedure ReadCounters(Line, Column, Nozzle: Integer; out First, Second: Double);
    procedure WriteCounter(Line, Column, Nozzle: Integer; const Value: Double);
    function GetFillingVolume(Line, Column: Integer; out Money: Double): Double;
    function GetStatusCode(Line, Column: Byte): Word;
    procedure SetPrice(Line, Column, Nozzle: Integer; Price: Double);
    procedure Reserved12(A, B, C: Integer);
    procedure PresetVolume(Line, Column, Nozzle: Integer; Litres: Double);
    procedure PresetAmount(Line, Column, Nozzle: Integer; Money: Double);
    procedure StartNozzle(Line, Column, Nozzle: Integer);
    function SetupLine(Line: Byte): Integer;
    function GetParam(Line, Column, HostParameter: Integer): Integer;
    procedure SetParam(Line, Column, HostParameter, Value: Integer);
    procedure AuthorizeNozzle(Line, Column, Nozzle: Integer; Flag: Byte);
    function GetDriverProperty(Number: Integer; var Value: Integer): Boolean;
    function GetStatus(Line, Column, NozzleCount: Byte): TDorvStatusRecord;
    procedure StopNozzle(Line, Column, Nozzle: Integer; Flag: Byte);
    function StopAndRelease(Line, Column, Nozzle: Integer; Flag: Byte): Integer;
    procedure AttachMenu(Menu, Factory: Pointer); overload;
    { Adds the driver's item under Root's "&ТРК" item through a TDorvMenu. }
    procedure AttachMenu(Root: TMenuItem); overload;
    procedure Reserved25(A, B: Integer);
    procedure Reserved26(A, B: Integer);
  end;

  THostLink = class;

  TDorvLinkObject = record
    Table: Pointer;
    Owner: THostLink;
  end;

  { The host's serial link. Transact must send Frame, collect the reply into Reply (255 bytes),
    have it checked by the validator installed for the line and return 0 when the transaction
    completed (a silent line is a completed transaction whose line state is not 1). An
    exception raised here is not lost: the driver turns it into GetLineError's code and raises
    ESerialIO with the command's message. }
  THostLink = class
  private
    FObject: TDorvLinkObject;
  public
    constructor Create;
    { What GetDI30 takes as the link. }
    function Handle: Pointer;
    function GetLineError(Line: Byte): Integer; virtual; abstract;
    procedure ReportLineCode(Line: Byte; Code: Integer); virtual; abstract;
    procedure ReportLineState(Line: Byte; State: Integer); virtual; abstract;
    function ReadLineState(Line: Byte): Byte; virtual; abstract;
    function Transact(Line: Byte; Frame: PByte; FrameLength: Byte; Reply: PByte;
      ReplyLength, Mode: Byte): Integer; virtual; abstract;
    function ConfigureLine(Line: Byte; Format, Baud: Integer): Integer; virtual; abstract;
    procedure SetReplyValidator(Line: Byte; Validator: TDorvReplyValidator;
      Context: Pointer); virtual; abstract;
    procedure SetLineConfigurator(Line: Byte; Configurator: TDorvLineConfigurator;
      Context: Pointer); virtual; abstract;
  end;

  TDorvMenu = class;

  PDorvMenuObject = ^TDorvMenuObject;
  TDorvMenuObject = record
    Table: Pointer;
    Item: TMenuItem;
    Owner: TDorvMenu;
    Caption: TDorvText;
  end;

  TDorvFactoryObject = record
    Table: Pointer;
    Owner: TDorvMenu;
  end;

  { The host's menu for one AttachMenu call: MenuHandle stands for Root, FactoryHandle creates
    a TMenuItem (owned by its parent) and adds it under the parent. Captions and hints travel
    in CP1251. Free it after AttachMenu; the added item stays in the host's menu. }
  TDorvMenu = class
  private
    FRoot: TMenuItem;
    FFactory: TDorvFactoryObject;
    FObjects: array of PDorvMenuObject;
  public
    constructor Create(Root: TMenuItem);
    destructor Destroy; override;
    function Wrap(Item: TMenuItem): Pointer;
    function MenuHandle: Pointer;
    function FactoryHandle: Pointer;
  end;

const
  { The code of the driver's failures as Windows exceptions; ExceptionInformation[0] is the
    kind (1 Exception, 2 ESerialIO, 3 other), [1] the CP1251 message, [2] its length. }
  DorvFailureCode = $E0445256;

type
  { A Windows EXCEPTION_RECORD, declared here so that the unit does not depend on which of the
    run-time library's declarations is in scope. }
  TDorvExceptionRecord = record
    ExceptionCode: Cardinal;
    ExceptionFlags: Cardinal;
    ExceptionRecord: Pointer;
    ExceptionAddress: Pointer;
    NumberParameters: Cardinal;
    ExceptionInformation: array[0..14] of Cardinal;
  end;
  PDorvExceptionRecord = ^TDorvExceptionRecord;

{ The exception object for a driver failure; nil for any other exception record. }
function DorvExceptionObject(Rec: PDorvExceptionRecord): Exception;

implementation

type
  TSlotTable = array[0..26] of Pointer;
  PSlotTable = ^TSlotTable;

  { Slot types: explicit Self; record results through an explicit pointer, placed where each
    convention puts the hidden one of a Delphi method (stdcall: before Self; register: last).
    Free Pascal's own stdcall methods put it after Self, so only these explicit types work in
    both compilers. }
{$IFDEF DORV_REGISTER}
  TGetDriverInfoSlot = procedure(Self: Pointer; Result: PDorvDriverInfo); register;
  TGetStatusSlot = procedure(Self: Pointer; Line, Column, NozzleCount: Byte; Result: PDorvStatusRecord); register;
{$ELSE}
  TGetDriverInfoSlot = procedure(Result: PDorvDriverInfo; Self: Pointer); stdcall;
  TGetStatusSlot = procedure(Result: PDorvStatusRecord; Self: Pointer; Line, Column, NozzleCount: Byte); stdcall;
{$ENDIF}
  TByteByteSlot = procedure(Self: Pointer; A, B: Byte); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TByteToByteSlot = function(Self: Pointer; A: Byte): Byte; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TStopColumnSlot = function(Self: Pointer; Line, Column: Integer; Flag: Byte): Boolean; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TIntToBoolSlot = function(Self: Pointer; A: Integer): Boolean; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TGetFillingSlot = procedure(Self: Pointer; Line, Column: Integer; Litres, Money: PDouble); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TReadCountersSlot = procedure(Self: Pointer; Line, Column, Nozzle: Integer; First, Second: PDouble; Unused1, Unused2: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TWriteCounterSlot = procedure(Self: Pointer; Line, Column, Nozzle: Integer; Value: PDouble; Unused1, Unused2, Unused3: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TGetFillingVolumeSlot = function(Self: Pointer; Line, Column: Integer; Money: PDouble): Double; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TGetStatusCodeSlot = function(Self: Pointer; Line, Column: Byte): Word; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TSetPriceSlot = procedure(Self: Pointer; Line, Column, Nozzle: Integer; Unused, Price: Double); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TPresetSlot = procedure(Self: Pointer; Line, Column, Nozzle, Unused: Integer; Value: Double); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TTwoIntSlot = procedure(Self: Pointer; A, B: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TThreeIntSlot = procedure(Self: Pointer; A, B, C: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TByteToIntSlot = function(Self: Pointer; A: Byte): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TThreeIntToIntSlot = function(Self: Pointer; A, B, C: Integer): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TFourIntSlot = procedure(Self: Pointer; A, B, C, D: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TNozzleFlagSlot = procedure(Self: Pointer; Line, Column, Nozzle: Integer; Flag: Byte); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TNozzleFlagToIntSlot = function(Self: Pointer; Line, Column, Nozzle: Integer; Flag: Byte): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TGetDriverPropertySlot = function(Self: Pointer; Number: Integer; Value: PInteger): Boolean; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
  TAttachMenuSlot = procedure(Self: Pointer; Menu, Factory: Pointer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};

  { The run-time library's own entries take the register convention in either build. }
  TDestroyEntry = procedure(Self: Pointer; Outermost: ShortInt); register;

{ ---- TDorvDriver ---- }

constructor TDorvDriver.Create(GetDI30: TGetDI30; Flags: Integer; Link: Pointer);
begin
  inherited Create;
  FObject := GetDI30(Flags, 0, Link);
end;

destructor TDorvDriver.Destroy;
begin
  if FObject <> nil then
    TDestroyEntry(PPointer(PAnsiChar(PPointer(FObject)^) - 4)^)(FObject, 1);
  FObject := nil;
  inherited Destroy;
end;

function TDorvDriver.Slot(Index: Integer): Pointer;
begin
  Result := PSlotTable(PPointer(FObject)^)^[Index];
end;

function TDorvDriver.TableClassName: ShortString;
begin
  Result := PShortString(PPointer(PAnsiChar(PPointer(FObject)^) - 44)^)^;
end;

function TDorvDriver.TableInstanceSize: Integer;
begin
  Result := PInteger(PAnsiChar(PPointer(FObject)^) - 40)^;
end;

function TDorvDriver.GetDriverInfo: TDorvDriverInfo;
begin
{$IFDEF DORV_REGISTER}
  TGetDriverInfoSlot(Slot(1))(FObject, @Result);
{$ELSE}
  TGetDriverInfoSlot(Slot(1))(@Result, FObject);
{$ENDIF}
end;

procedure TDorvDriver.SetLineStatus(Line, Value: Byte);
begin
  TByteByteSlot(Slot(2))(FObject, Line, Value);
end;

function TDorvDriver.GetLineStatus(Line: Byte): Byte;
begin
  Result := TByteToByteSlot(Slot(3))(FObject, Line);
end;

function TDorvDriver.StopColumn(Line, Column: Integer; Flag: Byte): Boolean;
begin
  Result := TStopColumnSlot(Slot(4))(FObject, Line, Column, Flag);
end;

function TDorvDriver.Reserved5(Unused: Integer): Boolean;
begin
  Result := TIntToBoolSlot(Slot(5))(FObject, Unused);
end;

procedure TDorvDriver.GetFilling(Line, Column: Integer; out Litres, Money: Double);
begin
  TGetFillingSlot(Slot(6))(FObject, Line, Column, @Litres, @Money);
end;

procedure TDorvDriver.ReadCounters(Line, Column, Nozzle: Integer; out First, Second: Double);
begin
  TReadCountersSlot(Slot(7))(FObject, Line, Column, Nozzle, @First, @Second, 0, 0);
end;

procedure TDorvDriver.WriteCounter(Line, Column, Nozzle: Integer; const Value: Double);
begin
  TWriteCounterSlot(Slot(8))(FObject, Line, Column, Nozzle, @Value, 0, 0, 0);
end;

function TDorvDriver.GetFillingVolume(Line, Column: Integer; out Money: Double): Double;
begin
  Result := TGetFillingVolumeSlot(Slot(9))(FObject, Line, Column, @Money);
end;

function TDorvDriver.GetStatusCode(Line, Column: Byte): Word;
begin
  Result := TGetStatusCodeSlot(Slot(10))(FObject, Line, Column);
end;

procedure TDorvDriver.SetPrice(Line, Column, Nozzle: Integer; Price: Double);
begin
  TSetPriceSlot(Slot(11))(FObject, Line, Column, Nozzle, 0, Price);
end;

procedure TDorvDriver.Reserved12(A, B, C: Integer);
begin
  TThreeIntSlot(Slot(12))(FObject, A, B, C);
end;

procedure TDorvDriver.PresetVolume(Line, Column, Nozzle: Integer; Litres: Double);
begin
  TPresetSlot(Slot(13))(FObject, Line, Column, Nozzle, 0, Litres);
end;

procedure TDorvDriver.PresetAmount(Line, Column, Nozzle: Integer; Money: Double);
begin
  TPresetSlot(Slot(14))(FObject, Line, Column, Nozzle, 0, Money);
end;

procedure TDorvDriver.StartNozzle(Line, Column, Nozzle: Integer);
begin
  TThreeIntSlot(Slot(15))(FObject, Line, Column, Nozzle);
end;

function TDorvDriver.SetupLine(Line: Byte): Integer;
begin
  Result := TByteToIntSlot(Slot(16))(FObject, Line);
end;

function TDorvDriver.GetParam(Line, Column, HostParameter: Integer): Integer;
begin
  Result := TThreeIntToIntSlot(Slot(17))(FObject, Line, Column, HostParameter);
end;

procedure TDorvDriver.SetParam(Line, Column, HostParameter, Value: Integer);
begin
  TFourIntSlot(Slot(18))(FObject, Line, Column, HostParameter, Value);
end;

procedure TDorvDriver.AuthorizeNozzle(Line, Column, Nozzle: Integer; Flag: Byte);
begin
  TNozzleFlagSlot(Slot(19))(FObject, Line, Column, Nozzle, Flag);
end;

function TDorvDriver.GetDriverProperty(Number: Integer; var Value: Integer): Boolean;
begin
  Result := TGetDriverPropertySlot(Slot(20))(FObject, Number, @Value);
end;

function TDorvDriver.GetStatus(Line, Column, NozzleCount: Byte): TDorvStatusRecord;
begin
{$IFDEF DORV_REGISTER}
  TGetStatusSlot(Slot(21))(FObject, Line, Column, NozzleCount, @Result);
{$ELSE}
  TGetStatusSlot(Slot(21))(@Result, FObject, Line, Column, NozzleCount);
{$ENDIF}
end;

procedure TDorvDriver.StopNozzle(Line, Column, Nozzle: Integer; Flag: Byte);
begin
  TNozzleFlagSlot(Slot(22))(FObject, Line, Column, Nozzle, Flag);
end;

function TDorvDriver.StopAndRelease(Line, Column, Nozzle: Integer; Flag: Byte): Integer;
begin
  Result := TNozzleFlagToIntSlot(Slot(23))(FObject, Line, Column, Nozzle, Flag);
end;

procedure TDorvDriver.AttachMenu(Menu, Factory: Pointer);
begin
  TAttachMenuSlot(Slot(24))(FObject, Menu, Factory);
end;

procedure TDorvDriver.AttachMenu(Root: TMenuItem);
var
  Menu: TDorvMenu;
begin
  Menu := TDorvMenu.Create(Root);
  try
    AttachMenu(Menu.MenuHandle, Menu.FactoryHandle);
  finally
    Menu.Free;
  end;
end;

procedure TDorvDriver.Reserved25(A, B: Integer);
begin
  TTwoIntSlot(Slot(25))(FObject, A, B);
end;

procedure TDorvDriver.Reserved26(A, B: Integer);
begin
  TTwoIntSlot(Slot(26))(FObject, A, B);
end;

{ ---- THostLink: its table, each entry calling the owner's method ---- }

type
  PDorvLinkObject = ^TDorvLinkObject;

procedure LinkReserved(Self: PDorvLinkObject); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
end;

function LinkGetLineError(Self: PDorvLinkObject; Line: Byte): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Owner.GetLineError(Line);
end;

procedure LinkReportLineCode(Self: PDorvLinkObject; Line: Byte; Code: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Owner.ReportLineCode(Line, Code);
end;

procedure LinkReportLineState(Self: PDorvLinkObject; Line: Byte; State: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Owner.ReportLineState(Line, State);
end;

function LinkReadLineState(Self: PDorvLinkObject; Line: Byte): Byte; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Owner.ReadLineState(Line);
end;

function LinkTransact(Self: PDorvLinkObject; Line: Byte; Frame: PByte; FrameLength: Byte;
  Reply: PByte; ReplyLength, Mode: Byte): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Owner.Transact(Line, Frame, FrameLength, Reply, ReplyLength, Mode);
end;

function LinkConfigureLine(Self: PDorvLinkObject; Line: Byte; Format, Baud: Integer): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Owner.ConfigureLine(Line, Format, Baud);
end;

procedure LinkSetReplyValidator(Self: PDorvLinkObject; Line: Byte; Validator: TDorvReplyValidator;
  Context: Pointer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Owner.SetReplyValidator(Line, Validator, Context);
end;

procedure LinkSetLineConfigurator(Self: PDorvLinkObject; Line: Byte;
  Configurator: TDorvLineConfigurator; Context: Pointer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Owner.SetLineConfigurator(Line, Configurator, Context);
end;

var
  LinkTable: array[0..21] of Pointer;

constructor THostLink.Create;
begin
  inherited Create;
  FObject.Table := @LinkTable[0];
  FObject.Owner := Self;
end;

function THostLink.Handle: Pointer;
begin
  Result := @FObject;
end;

{ ---- TDorvMenu ---- }

type
  PDorvFactoryObject = ^TDorvFactoryObject;

function MenuGetCount(Self: PDorvMenuObject): Integer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Item.Count;
end;

function MenuGetItem(Self: PDorvMenuObject; Index: Integer): Pointer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Result := Self^.Owner.Wrap(Self^.Item.Items[Index]);
end;

function MenuGetCaption(Self: PDorvMenuObject): PAnsiChar; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Caption := TDorvText(Self^.Item.Caption);
  Result := PAnsiChar(Self^.Caption);
end;

{ The library's CP1251 bytes as the host's string: SetString stamps them with the type's code
  page without converting them, the conversion to string then goes through 1251. A Length
  below 0 takes the text up to its NUL. }
function HostText(Text: PAnsiChar; Length: Integer): string;
var
  Raw: TDorvText;
begin
  if Length < 0 then
  begin
    Length := 0;
    if Text <> nil then
      while Text[Length] <> #0 do
        Inc(Length);
  end;
  SetString(Raw, Text, Length);
  Result := string(Raw);
end;

procedure MenuSetCaption(Self: PDorvMenuObject; Text: PAnsiChar); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Item.Caption := HostText(Text, -1);
end;

procedure MenuSetHint(Self: PDorvMenuObject; Text: PAnsiChar); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Item.Hint := HostText(Text, -1);
end;

procedure MenuSetHelpContext(Self: PDorvMenuObject; Value: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Item.HelpContext := Value;
end;

procedure MenuSetShortCut(Self: PDorvMenuObject; Value: Integer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
begin
  Self^.Item.ShortCut := TShortCut(Value);
end;

{ Code and Data make an ordinary method pointer: the driver's handler takes Data in EAX and the
  sender in EDX, as a TNotifyEvent is called. }
procedure MenuSetOnClick(Self: PDorvMenuObject; Code, Data: Pointer); {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
var
  Method: TMethod;
begin
  Method.Code := Code;
  Method.Data := Data;
  Self^.Item.OnClick := TNotifyEvent(Method);
end;

function FactoryCreateItem(Self: PDorvFactoryObject; Parent: PDorvMenuObject;
  Index: Integer): Pointer; {$IFDEF DORV_REGISTER}register{$ELSE}stdcall{$ENDIF};
var
  Item: TMenuItem;
begin
  Item := TMenuItem.Create(Parent^.Item);
  if (Index < 0) or (Index >= Parent^.Item.Count) then
    Parent^.Item.Add(Item)
  else
    Parent^.Item.Insert(Index, Item);
  Result := Self^.Owner.Wrap(Item);
end;

var
  MenuTable: array[0..7] of Pointer;
  FactoryTable: array[0..0] of Pointer;

constructor TDorvMenu.Create(Root: TMenuItem);
begin
  inherited Create;
  FRoot := Root;
  FFactory.Table := @FactoryTable[0];
  FFactory.Owner := Self;
end;

destructor TDorvMenu.Destroy;
var
  I: Integer;
begin
  for I := 0 to High(FObjects) do
    Dispose(FObjects[I]);
  inherited Destroy;
end;

function TDorvMenu.Wrap(Item: TMenuItem): Pointer;
var
  Obj: PDorvMenuObject;
begin
  if Item = nil then
  begin
    Result := nil;
    Exit;
  end;
  New(Obj);
  Obj^.Table := @MenuTable[0];
  Obj^.Item := Item;
  Obj^.Owner := Self;
  SetLength(FObjects, Length(FObjects) + 1);
  FObjects[High(FObjects)] := Obj;
  Result := Obj;
end;

function TDorvMenu.MenuHandle: Pointer;
begin
  Result := Wrap(FRoot);
end;

function TDorvMenu.FactoryHandle: Pointer;
begin
  Result := @FFactory;
end;

{ ---- the driver's failures as exceptions ---- }

function DorvExceptionObject(Rec: PDorvExceptionRecord): Exception;
var
  Text: string;
begin
  Result := nil;
  if (Rec^.ExceptionCode <> DorvFailureCode) or (Rec^.NumberParameters < 3) then
    Exit;
  Text := HostText(PAnsiChar(Rec^.ExceptionInformation[1]), Integer(Rec^.ExceptionInformation[2]));
  if Rec^.ExceptionInformation[0] = 2 then
    Result := ESerialIO.Create(Text)
  else
    Result := Exception.Create(Text);
end;

var
  PreviousExceptObjProc: Pointer;

{$IFDEF FPC}
type
  TFpcExceptObjProc = function(Code: Longint; const Rec: TExceptionRecord): Pointer;

function MapException(Code: Longint; const Rec: TExceptionRecord): Pointer;
begin
  Result := DorvExceptionObject(@Rec);
  if (Result = nil) and (PreviousExceptObjProc <> nil) then
    Result := TFpcExceptObjProc(PreviousExceptObjProc)(Code, Rec);
end;
{$ELSE}
type
  TDelphiExceptObjProc = function(P: Pointer): Exception;

function MapException(P: Pointer): Exception;
begin
  Result := DorvExceptionObject(P);
  if (Result = nil) and (PreviousExceptObjProc <> nil) then
    Result := TDelphiExceptObjProc(PreviousExceptObjProc)(P);
end;
{$ENDIF}

initialization
  { The library calls the link from its own threads (the parameter window's read and write
    runs) while the host's thread polls: the host's memory manager must take its locks. }
  IsMultiThread := True;
  LinkTable[0] := @LinkReserved;
  LinkTable[1] := @LinkGetLineError;
  LinkTable[2] := @LinkReportLineCode;
  LinkTable[3] := @LinkReportLineState;
  LinkTable[4] := @LinkReadLineState;
  LinkTable[5] := @LinkReserved;
  LinkTable[6] := @LinkReserved;
  LinkTable[7] := @LinkReserved;
  LinkTable[8] := @LinkReserved;
  LinkTable[9] := @LinkReserved;
  LinkTable[10] := @LinkReserved;
  LinkTable[11] := @LinkReserved;
  LinkTable[12] := @LinkReserved;
  LinkTable[13] := @LinkReserved;
  LinkTable[14] := @LinkReserved;
  LinkTable[15] := @LinkReserved;
  LinkTable[16] := @LinkTransact;
  LinkTable[17] := @LinkConfigureLine;
  LinkTable[18] := @LinkReserved;
  LinkTable[19] := @LinkSetReplyValidator;
  LinkTable[20] := @LinkReserved;
  LinkTable[21] := @LinkSetLineConfigurator;
  MenuTable[0] := @MenuGetCount;
  MenuTable[1] := @MenuGetItem;
  MenuTable[2] := @MenuGetCaption;
  MenuTable[3] := @MenuSetCaption;
  MenuTable[4] := @MenuSetHint;
  MenuTable[5] := @MenuSetHelpContext;
  MenuTable[6] := @MenuSetShortCut;
  MenuTable[7] := @MenuSetOnClick;
  FactoryTable[0] := @FactoryCreateItem;
  PreviousExceptObjProc := ExceptObjProc;
  ExceptObjProc := @MapException;
finalization
  ExceptObjProc := PreviousExceptObjProc;
end.
