{ The test host's own menu items, with the members of the stations' TMenuItem that the driver's
  menu adapter uses (Dorv5000Host.TDorvMenu): no window toolkit is needed to run the test. }
unit Menus;

{$MODE DELPHI}

interface

uses
  Classes;

type
  TMenuItem = class
  private
    FItems: array of TMenuItem;
    function GetItem(Index: Integer): TMenuItem;
  public
    Caption: string;
    Hint: string;
    HelpContext: Integer;
    ShortCut: TShortCut;
    OnClick: TNotifyEvent;
    constructor Create(AOwner: TObject);
    destructor Destroy; override;
    function Count: Integer;
    procedure Add(Item: TMenuItem);
    procedure Insert(Index: Integer; Item: TMenuItem);
    property Items[Index: Integer]: TMenuItem read GetItem; default;
  end;

implementation

constructor TMenuItem.Create(AOwner: TObject);
begin
  inherited Create;
  HelpContext := -1;
  ShortCut := $FFFF;
end;

destructor TMenuItem.Destroy;
var
  I: Integer;
begin
  for I := 0 to High(FItems) do
    FItems[I].Free;
  inherited Destroy;
end;

function TMenuItem.GetItem(Index: Integer): TMenuItem;
begin
  Result := FItems[Index];
end;

function TMenuItem.Count: Integer;
begin
  Result := Length(FItems);
end;

procedure TMenuItem.Add(Item: TMenuItem);
begin
  Insert(Count, Item);
end;

procedure TMenuItem.Insert(Index: Integer; Item: TMenuItem);
var
  I: Integer;
begin
  SetLength(FItems, Length(FItems) + 1);
  for I := High(FItems) downto Index + 1 do
    FItems[I] := FItems[I - 1];
  FItems[Index] := Item;
end;

end.
