// What the session's token may do: the service names the role its token grants, and each
// role includes the ones below it.
const RANKS = ['viewer', 'pos', 'manager'];

export function rolesOf(role) {
  const rank = RANKS.indexOf(role);
  return { viewer: rank >= 0, pos: rank >= 1, manager: rank >= 2 };
}
