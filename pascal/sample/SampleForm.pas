{ The station's main form: a window with the main menu (the driver adds its item under
  "&ТРК"), a list of what happened, and a polling timer that runs one filling on line 1,
  column 1, nozzle 1.

  It is written against the Windows API so that it compiles with Free Pascal as well as with
  Delphi; in a VCL program the same calls go into FormCreate, Timer1Timer and FormDestroy of a
  TForm with a TMainMenu and a TTimer, and the menu is the form's own. }
unit SampleForm;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

uses
  Windows, Messages, SysUtils, Menus, Dorv5000Host, SerialLink;

type
  TFillingStep = (fsPrepare, fsPolling, fsDone, fsFailed);

  TSampleForm = class
  private
    FWindow: HWND;
    FList: HWND;
    FMenu: TMenuItem;
    FMenuItems: array of TMenuItem;  { by WM_COMMAND identifier }
    FLibrary: HMODULE;
    FLink: TSerialLink;
    FDriver: TDorvDriver;
    FStep: TFillingStep;
    FPolls: Integer;
    FSawEnd: Boolean;
    FAutoClose: Boolean;
    procedure Log(const Text: string);
    procedure BuildMenuBar;
    procedure ExitClick(Sender: TObject);
    procedure Timer1Timer;
  public
    Line, Column, Nozzle: Integer;
    Price, Litres: Double;
    { Loads the library, opens COM<Port>, creates the driver and attaches the menu. }
    constructor Create(const LibraryPath: string; Port: Integer; AutoClose: Boolean);
    destructor Destroy; override;
    { The message loop; returns when the window closes. True when the filling was read. }
    function Run: Boolean;
  end;

implementation

const
  TimerId = 1;
  PollInterval = 200;
  MaxPolls = 150;

var
  TheForm: TSampleForm;

function FormProc(Window: HWND; Msg: UINT; WParam: WPARAM; LParam: LPARAM): LRESULT; stdcall;
var
  Id: Integer;
begin
  Result := 0;
  case Msg of
    WM_TIMER:
      if TheForm <> nil then
        TheForm.Timer1Timer;
    WM_COMMAND:
      begin
        Id := LoWord(WParam);
        if (TheForm <> nil) and (Id < Length(TheForm.FMenuItems)) and
          Assigned(TheForm.FMenuItems[Id].OnClick) then
          TheForm.FMenuItems[Id].OnClick(TheForm.FMenuItems[Id]);
      end;
    WM_DESTROY:
      PostQuitMessage(0);
  else
    Result := DefWindowProc(Window, Msg, WParam, LParam);
  end;
end;

procedure TSampleForm.Log(const Text: string);
begin
  WriteLn(Text);
  SendMessage(FList, LB_ADDSTRING, 0, LPARAM(PChar(Text)));
end;

constructor TSampleForm.Create(const LibraryPath: string; Port: Integer; AutoClose: Boolean);
var
  WindowClass: TWndClass;
  Item: TMenuItem;
begin
  inherited Create;
  TheForm := Self;
  FAutoClose := AutoClose;
  Line := 1;
  Column := 1;
  Nozzle := 1;
  Price := 45.50;
  Litres := 10.00;

  FillChar(WindowClass, SizeOf(WindowClass), 0);
  WindowClass.lpfnWndProc := @FormProc;
  WindowClass.hInstance := HInstance;
  WindowClass.hbrBackground := COLOR_BTNFACE + 1;
  WindowClass.lpszClassName := 'TDorvSampleForm';
  WindowClass.hCursor := LoadCursor(0, IDC_ARROW);
  Windows.RegisterClass(WindowClass);
  FWindow := CreateWindowEx(0, 'TDorvSampleForm', 'Dorv 5000 sample host', WS_OVERLAPPEDWINDOW,
    100, 100, 520, 360, 0, 0, HInstance, nil);
  FList := CreateWindowEx(WS_EX_CLIENTEDGE, 'LISTBOX', nil, WS_CHILD or WS_VISIBLE or WS_VSCROLL,
    8, 8, 490, 280, FWindow, 0, HInstance, nil);

  { The main menu: "Файл" with "Выход", and "&ТРК", under which the driver adds its item. }
  FMenu := TMenuItem.Create(nil);
  Item := TMenuItem.Create(FMenu);
  Item.Caption := #$D4#$E0#$E9#$EB;
  FMenu.Add(Item);
  Item.Add(TMenuItem.Create(Item));
  Item[0].Caption := #$C2#$FB#$F5#$EE#$E4;
  Item[0].OnClick := ExitClick;
  Item := TMenuItem.Create(FMenu);
  Item.Caption := '&'#$D2#$D0#$CA;
  FMenu.Add(Item);

  FLibrary := LoadLibrary(PChar(LibraryPath));
  if FLibrary = 0 then
    RaiseLastOSError;
  FLink := TSerialLink.Create(Port);
  FDriver := TDorvDriver.Create(TGetDI30(GetProcAddress(FLibrary, 'GetDI30')), 0, FLink.Handle);
  FDriver.AttachMenu(FMenu);
  BuildMenuBar;
  Log(Format('COM%d: SetupLine(%d) = %d', [Port, Line, FDriver.SetupLine(Line)]));
  ShowWindow(FWindow, SW_SHOWNORMAL);
  SetTimer(FWindow, TimerId, PollInterval, nil);
end;

destructor TSampleForm.Destroy;
begin
  KillTimer(FWindow, TimerId);
  FDriver.Free;      { the driver first: it may still call the link }
  FLink.Free;
  FMenu.Free;
  if FLibrary <> 0 then
    FreeLibrary(FLibrary);
  if IsWindow(FWindow) then
    DestroyWindow(FWindow);
  TheForm := nil;
  inherited Destroy;
end;

{ The window's menu bar from the TMenuItem tree, item i answering WM_COMMAND i. }
procedure TSampleForm.BuildMenuBar;

  procedure AddItems(Menu: HMENU; Parent: TMenuItem);
  var
    I: Integer;
    Sub: HMENU;
    Item: TMenuItem;
  begin
    for I := 0 to Parent.Count - 1 do
    begin
      Item := Parent[I];
      if Item.Count > 0 then
      begin
        Sub := CreatePopupMenu;
        AddItems(Sub, Item);
        AppendMenu(Menu, MF_POPUP or MF_STRING, Cardinal(Sub), PChar(Item.Caption));
      end
      else
      begin
        SetLength(FMenuItems, Length(FMenuItems) + 1);
        FMenuItems[High(FMenuItems)] := Item;
        AppendMenu(Menu, MF_STRING, High(FMenuItems), PChar(Item.Caption));
      end;
    end;
  end;

var
  Bar: HMENU;
begin
  Bar := CreateMenu;
  AddItems(Bar, FMenu);
  SetMenu(FWindow, Bar);
end;

procedure TSampleForm.ExitClick(Sender: TObject);
begin
  DestroyWindow(FWindow);
end;

{ One step of the filling per tick: price, dose and start first; then the running litres and
  a status query per tick. The driver reports 0xD8 once it takes the filling for ended (in its
  last litre it does so already, and its release is then refused); the filling is over when
  the nozzle is back at rest after that, and its readings are then final. }
procedure TSampleForm.Timer1Timer;
var
  Status: TDorvStatusRecord;
  Money, First, Second, Volume: Double;
  Code: Byte;
begin
  try
    case FStep of
      fsPrepare:
        begin
          FDriver.SetPrice(Line, Column, Nozzle, Price);
          FDriver.PresetVolume(Line, Column, Nozzle, Litres);
          FDriver.AuthorizeNozzle(Line, Column, Nozzle, 0);
          Log(Format('price %.2f, dose %.2f l, authorized: line status %d',
            [Price, Litres, FDriver.GetLineStatus(Line)]));
          FStep := fsPolling;
        end;
      fsPolling:
        begin
          Inc(FPolls);
          Volume := FDriver.GetFillingVolume(Line, Column, Money);
          Status := FDriver.GetStatus(Line, Column, Nozzle);
          Code := Status.Bytes[0];
          Log(Format('status %.2x: %.2f l, %.2f', [Code, Volume, Money]));
          if Code = $D8 then
            FSawEnd := True
          else if FSawEnd and (Code <> $D0 + Nozzle) then
          begin
            FDriver.GetFilling(Line, Column, Volume, Money);
            FDriver.ReadCounters(Line, Column, Nozzle, First, Second);
            Log(Format('filling ended: %.2f l, %.2f; counters %.2f l, %.2f',
              [Volume, Money, First, Second]));
            if (Abs(Volume - Litres) < 0.005) and (Abs(Money - Litres * Price) < 0.005) then
              FStep := fsDone
            else
              FStep := fsFailed;
          end;
          if (FStep = fsPolling) and (FPolls >= MaxPolls) then
          begin
            Log(Format('no end of the filling after %d polls', [FPolls]));
            FStep := fsFailed;
          end;
        end;
    end;
  except
    on E: ESerialIO do
    begin
      Log('line: ' + E.Message);
      FStep := fsFailed;
    end;
    on E: Exception do
    begin
      Log(E.ClassName + ': ' + E.Message);
      FStep := fsFailed;
    end;
  end;
  if (FStep in [fsDone, fsFailed]) and FAutoClose then
    DestroyWindow(FWindow);
end;

function TSampleForm.Run: Boolean;
var
  Msg: TMsg;
begin
  while GetMessage(Msg, 0, 0, 0) do
  begin
    TranslateMessage(Msg);
    DispatchMessage(Msg);
  end;
  Result := FStep = fsDone;
end;

end.
