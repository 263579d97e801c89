{ A small station host: Dorv5000.dll on one serial line, a form with the driver's menu item,
  and one filling run by a polling timer.

    DorvSample.exe [/port:N] [/auto] [/lib:PATH]

  /port:N   the COM port of line 1 (default 1)
  /auto     close the window once the filling is read (for unattended runs); the exit code is
            0 when the filling came out as dosed
  /lib:PATH the library (default Dorv5000.dll beside the program)

  Compile Dorv5000Host.pas for the library's build: define DORV_REGISTER for the register
  build. }
program DorvSample;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$APPTYPE CONSOLE}

uses
  SysUtils, Dorv5000Host, SerialLink, SampleForm;

var
  Form: TSampleForm;
  I, Port: Integer;
  AutoClose, Done: Boolean;
  LibraryPath, Arg: string;

begin
  Port := 1;
  AutoClose := False;
  LibraryPath := 'Dorv5000.dll';
  for I := 1 to ParamCount do
  begin
    Arg := ParamStr(I);
    if SameText(Copy(Arg, 1, 6), '/port:') then
      Port := StrToInt(Copy(Arg, 7, MaxInt))
    else if SameText(Arg, '/auto') then
      AutoClose := True
    else if SameText(Copy(Arg, 1, 5), '/lib:') then
      LibraryPath := Copy(Arg, 6, MaxInt);
  end;
  Done := False;
  try
    Form := TSampleForm.Create(LibraryPath, Port, AutoClose);
    try
      Done := Form.Run;
    finally
      Form.Free;
    end;
  except
    on E: Exception do
      WriteLn(E.ClassName, ': ', E.Message);
  end;
  if Done then
    WriteLn('sample: filling read')
  else
  begin
    WriteLn('sample: failed');
    ExitCode := 1;
  end;
end.
